// Finding the features, options and constraints in a read GPD tree.
#pragma once

#include "gpd_file.h"

#include <string>

// Fills doc->features, constraints and invalid from doc->root.  False with
// a message naming file and line (an option list that names an unknown
// feature, a default that is no option, ...).
bool gpd_build_model(gpd_doc* doc, std::string* err);

// The display text of an entry's *Name / *rcNameID among entries, or "".
std::string gpd_display_name(const std::vector<gpd_entry>& entries);

// "Feature.Option" of the doc; false when either is unknown.
bool gpd_parse_ref(const gpd_doc* doc, const std::string& text, gpd_ref* out);
