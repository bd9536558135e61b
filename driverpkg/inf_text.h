// Reading the text of a Windows INF file: decoding, sections, lines, values
// and %strings%. What the lines mean for a printer driver is in inf_model.h.
#pragma once

#include <string>
#include <vector>

struct InfLine {
  int number = 0;             // line in the file where the entry starts
  bool has_key = false;       // "key = values" rather than a bare list
  std::string key;            // with %strings% replaced, quotes removed
  std::vector<std::string> values;  // comma-separated, the same
  std::string unresolved;     // the first %token% that [Strings] lacks
};

struct InfSection {
  std::string name;           // as first written; looked up without case
  int number = 0;
  std::vector<InfLine> lines;
};

struct InfFile {
  std::string path;
  std::vector<InfSection> sections;
};

// Turns the bytes of a file into UTF-8: UTF-16 with either byte-order mark,
// UTF-8 with or without one, else Windows' 8-bit Western code page.
// False with a message for text that cannot be decoded.
bool inf_decode(const std::string &bytes, std::string *utf8, std::string *error);

// Parses decoded text. Sections of the same name are joined. Errors name
// the path and the line.
bool inf_parse(const std::string &path, const std::string &utf8, InfFile *inf,
               std::string *error);

// Reads, decodes and parses a file of at most 16 MiB.
bool inf_load(const std::string &path, InfFile *inf, std::string *error);

// Section lookup and key lookup without regard to case; null when absent.
const InfSection *inf_section(const InfFile &inf, const std::string &name);
const InfLine *inf_key(const InfSection &section, const std::string &key);

bool inf_same(const std::string &a, const std::string &b);
std::string inf_lower(const std::string &s);
bool inf_ends_with(const std::string &s, const char *suffix);  // without regard to case

// "path:line: message", the form of every message about an INF's content.
std::string inf_where(const InfFile &inf, int line, const std::string &message);
