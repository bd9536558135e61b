// The user's choice for every feature of a GPD, resolved against the
// driver's constraints, and the attributes that hold under it.
//
//   gpd_config c;
//   gpd_config_defaults(&doc, &c);
//   gpd_config_parse(&doc, "PaperSize=A4;Resolution=600dpi", &c, &err);
//   gpd_config_resolve(&doc, &c);
//   const gpd_entry* dpi = gpd_option_attr(&doc, &c, "Resolution", "DPI");
//
// The text form ("Feature=Option;...") is what the device mode's private
// part and a queue keep.
#pragma once

#include "gpd_file.h"

#include <string>
#include <vector>

struct gpd_config {
    std::vector<int> choice; // an option index per feature
    std::vector<bool> chosen; // the user named it (kept when resolving)
};

void gpd_config_defaults(const gpd_doc* doc, gpd_config* c);

// Sets one feature; false with *err for an unknown feature or option.
bool gpd_config_set(
    const gpd_doc* doc, gpd_config* c, const char* feature, const char* option, std::string* err);

// "F=O;F=O": sets each.  Unknown names are reported, nothing is set then.
bool gpd_config_parse(const gpd_doc* doc, const char* text, gpd_config* c, std::string* err);
// The same, leniently: each item this GPD has is set, the others skipped
// (what a stored device mode may hold after the driver changed).
void gpd_config_apply(const gpd_doc* doc, const char* text, gpd_config* c);
std::string gpd_config_text(const gpd_doc* doc, const gpd_config* c);

// Whether the current choices break a constraint or invalid combination.
bool gpd_config_conflicts(const gpd_doc* doc, const gpd_config* c, std::string* why);

// Changes choices the user did not make (then those made last) until no
// constraint is broken: each is moved to its default or the first option
// that fits.  False when no such set of choices is found.
bool gpd_config_resolve(const gpd_doc* doc, gpd_config* c);

// The entry named key that holds under c among entries, following
// *Switch/*Case/*Default; the last one given wins.  nullptr when none.
const gpd_entry* gpd_lookup(
    const gpd_doc* doc, const gpd_config* c, const std::vector<gpd_entry>& entries, const char* key);

// The same in the chosen option of a feature.
const gpd_entry* gpd_option_attr(
    const gpd_doc* doc, const gpd_config* c, const char* feature, const char* key);

// The chosen option's name, or "" when the GPD has no such feature.
std::string gpd_chosen(const gpd_doc* doc, const gpd_config* c, const char* feature);

// Every entry (in order) that holds under c among entries: switches
// followed, features, options and macros left out.
void gpd_flatten(const gpd_doc* doc, const gpd_config* c, const std::vector<gpd_entry>& entries,
    std::vector<const gpd_entry*>* out);
