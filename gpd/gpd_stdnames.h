// Our own equivalent of the standard names every minidriver includes
// (StdNames.gpd) and of the strings it points at in the shared resource
// DLL: the standard paper sizes and the display names of the standard
// features and options.
#pragma once

struct gpd_std_paper {
    const char* name; // the GPD option name, e.g. "A4"
    unsigned code; // the Windows paper code (DMPAPER_*)
    unsigned width_um, length_um; // portrait, micrometres
    const char* text; // what the user sees
    const char* ppd; // the PPD page size keyword ("" = none standard)
};

// The standard paper of that option name, or nullptr.
const gpd_std_paper* gpd_std_paper_find(const char* name);

// The text of our StdNames.gpd: value macros NAME_DISPLAY naming
// resource ids of our own names table.
const char* gpd_stdnames_text();

// The display text of one of those resource ids, or nullptr.
const char* gpd_std_resource(long id);

// A readable name for a symbol with no display name ("PAPER_SIZE",
// "ENV_10" become "Paper Size", "Env 10"); written into out.
void gpd_pretty_name(const char* symbol, char* out, unsigned size);
