// A GPD file read into a tree of entries, and the printer's features and
// options found in it.
//
//   gpd_doc doc;
//   std::string err;
//   if (!gpd_load("/path/printer.gpd", &doc, &err)) ... err names file and line
//
// Reading resolves the preprocessor (#Ifdef/#Else/#Endif, #Define), the
// *Include entries (beside the GPD, any letter case; our own StdNames.gpd
// when the driver does not carry one), value macros (*Macros, =name) and
// block macros (*BlockMacro, *InsertBlock).  *Switch/*Case stay in the tree:
// which branch holds depends on the options chosen (see gpd_config.h).
#pragma once

#include <stddef.h>

#include <string>
#include <vector>

// One "*Keyword: value" entry, with the entries of its { } block.
struct gpd_entry {
    std::string key; // without '*'; "Command" keeps its command name in value
    std::string value; // raw text after the colon, macros expanded, '+' lines joined
    std::string file; // where it was read, for messages
    int line = 0;
    std::vector<gpd_entry> kids;
};

struct gpd_option {
    std::string name; // the option's symbol, e.g. "A4"
    std::string display; // what the user sees
    const gpd_entry* entry = nullptr;
};

struct gpd_feature {
    std::string name; // e.g. "PaperSize"
    std::string display;
    std::string default_option;
    bool installable = false; // *Installable? TRUE (a synthesized feature follows)
    bool pick_many = false;
    std::vector<gpd_option> options;
    const gpd_entry* entry = nullptr;
};

// "Feature.Option", as constraints name them.
struct gpd_ref {
    int feature = -1;
    int option = -1;
};

// Selecting `from` rules out `to`.
struct gpd_constraint {
    gpd_ref from, to;
};

// Features and options point into root: a gpd_doc is filled in place and
// never copied.
struct gpd_doc {
    std::string path; // the GPD as given
    std::vector<gpd_entry> root;
    std::vector<gpd_feature> features;
    std::vector<gpd_constraint> constraints;
    std::vector<std::vector<gpd_ref>> invalid; // *InvalidCombination sets
    std::string model; // *ModelName
};

// Limits on what a GPD may make us hold: a driver's files are not trusted.
#define GPD_MAX_FILE_BYTES (8u << 20)
#define GPD_MAX_INCLUDE_DEPTH 8
#define GPD_MAX_ENTRIES 200000
#define GPD_MAX_MACRO_DEPTH 16
#define GPD_MAX_VALUE_BYTES 65536 // a value with its macros expanded
#define GPD_MAX_NESTING 64 // braces within braces

// Reads the GPD at path.  False with a message naming file and line.
bool gpd_load(const char* path, gpd_doc* doc, std::string* err);

// The same from text in memory; includes are looked up in dir.
bool gpd_load_text(const std::string& text, const char* name, const char* dir, gpd_doc* doc,
    std::string* err);

int gpd_find_feature(const gpd_doc* doc, const char* name);
int gpd_find_option(const gpd_feature* f, const char* name);

// Case-insensitive ASCII comparison, as GPD symbols and file names on a
// Windows file system compare.
bool gpd_same(const char* a, const char* b);
