// INF text: decoding, then lines. A logical line may continue over several
// physical lines with a trailing backslash; ';' starts a comment outside
// quotes; "" inside quotes is a quote; %name% is looked up in [Strings]
// (English variant first) and %% is a percent sign.
#include "inf_text.h"

#include <fstream>
#include <map>

namespace {

const size_t max_file = 16u << 20;

std::vector<std::string> split_lines(const std::string &text) {
  std::vector<std::string> lines;
  std::string cur;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(cur);
      cur.clear();
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      cur.push_back(c);
    }
  }
  if (!cur.empty()) lines.push_back(cur);
  return lines;
}

using Strings = std::map<std::string, std::string>;

// One token of a line being read: unquoted blanks at either end are not
// part of it, blanks between words and inside quotes are.
struct Token {
  std::string text, blanks;
  bool started = false;
};

void add_char(Token *t, char c, bool quoted) {
  if (!quoted && (c == ' ' || c == '\t')) {
    if (t->started) t->blanks.push_back(c);
    return;
  }
  t->text += t->blanks;
  t->blanks.clear();
  t->text.push_back(c);
  t->started = true;
}

void add_text(Token *t, const std::string &s) {
  for (char c : s) add_char(t, c, true);
  t->started = true;
}

struct LineReader {
  const std::vector<std::string> *lines = nullptr;
  const Strings *strings = nullptr;  // null: leave %name% as it is
  size_t next = 0;         // physical line to read
  std::string error;
};

// Replaces %name% at s[*i] (which is '%'); advances *i past it.
void expand(const std::string &s, size_t *i, const Strings &strings, Token *t, InfLine *out) {
  size_t end = s.find('%', *i + 1);
  if (end == std::string::npos) {
    add_char(t, '%', true);
    ++*i;
    return;
  }
  std::string name = s.substr(*i + 1, end - *i - 1);
  *i = end + 1;
  if (name.empty()) {
    add_char(t, '%', true);
    return;
  }
  auto it = strings.find(inf_lower(name));
  if (it != strings.end()) {
    add_text(t, it->second);
  } else {
    add_text(t, "%" + name + "%");
    if (out->unresolved.empty()) out->unresolved = name;
  }
}

// Reads one logical line into *out. False at the end of the file or on an
// error (then reader->error is set).
bool read_entry(LineReader *r, InfLine *out, bool *is_blank) {
  *out = InfLine{};
  out->number = int(r->next) + 1;
  Token tok;
  bool quoted = false, any = false;
  while (r->next < r->lines->size()) {
    const std::string &s = (*r->lines)[r->next++];
    size_t end = s.size(), i = 0;
    bool more = false;
    while (i < end) {
      char c = s[i];
      if (quoted) {
        if (c == '"' && i + 1 < end && s[i + 1] == '"') {
          add_char(&tok, '"', true);
          i += 2;
        } else if (c == '"') {
          quoted = false;
          ++i;
        } else if (c == '%' && r->strings) {
          expand(s, &i, *r->strings, &tok, out);
        } else {
          add_char(&tok, c, true);
          ++i;
        }
        continue;
      }
      if (c == ';') break;
      if (c == '\\' && s.find_first_not_of(" \t", i + 1) == std::string::npos) {
        more = true;
        break;
      }
      if (c == '\\' && s[s.find_first_not_of(" \t", i + 1)] == ';') {
        more = true;
        break;
      }
      any = true;
      if (c == '"') {
        quoted = true;
        tok.started = true;
        tok.text += tok.blanks;
        tok.blanks.clear();
        ++i;
      } else if (c == '=' && !out->has_key && out->values.empty()) {
        out->has_key = true;
        out->key = tok.text;
        tok = Token{};
        ++i;
      } else if (c == ',') {
        out->values.push_back(tok.text);
        tok = Token{};
        ++i;
      } else if (c == '%' && r->strings) {
        expand(s, &i, *r->strings, &tok, out);
      } else {
        add_char(&tok, c, false);
        ++i;
      }
    }
    if (quoted) {
      r->error = "a quoted string is not closed";
      return false;
    }
    if (!more) break;
  }
  if (any && (tok.started || out->has_key || !out->values.empty())) out->values.push_back(tok.text);
  *is_blank = !any;
  return true;
}

bool section_header(const std::string &s, std::string *name, std::string *error) {
  size_t start = s.find_first_not_of(" \t");
  if (start == std::string::npos || s[start] != '[') return false;
  size_t close = s.find(']', start);
  if (close == std::string::npos) {
    *error = "a section name without its closing ']'";
    return true;
  }
  size_t rest = s.find_first_not_of(" \t", close + 1);
  if (rest != std::string::npos && s[rest] != ';') {
    *error = "text after the section name";
    return true;
  }
  *name = s.substr(start + 1, close - start - 1);
  size_t a = name->find_first_not_of(" \t"), b = name->find_last_not_of(" \t");
  *name = a == std::string::npos ? "" : name->substr(a, b - a + 1);
  if (name->empty()) *error = "an empty section name";
  return true;
}

bool parse_with(const std::string &path, const std::vector<std::string> &lines,
                const Strings *strings, InfFile *inf, std::string *error) {
  inf->path = path;
  inf->sections.clear();
  LineReader r;
  r.lines = &lines;
  r.strings = strings;
  InfSection *current = nullptr;
  while (r.next < lines.size()) {
    std::string name, header_error;
    int number = int(r.next) + 1;
    if (section_header(lines[r.next], &name, &header_error)) {
      ++r.next;
      if (!header_error.empty()) {
        *error = inf_where(*inf, number, header_error);
        return false;
      }
      current = nullptr;
      for (auto &s : inf->sections)
        if (inf_same(s.name, name)) current = &s;
      if (!current) {
        inf->sections.push_back(InfSection{name, number, {}});
        current = &inf->sections.back();
      }
      continue;
    }
    InfLine line;
    bool blank = true;
    if (!read_entry(&r, &line, &blank)) {
      *error = inf_where(*inf, number, r.error);
      return false;
    }
    if (blank) continue;
    if (!current) {
      *error = inf_where(*inf, number, "an entry before the first section");
      return false;
    }
    current->lines.push_back(line);
  }
  return true;
}

// The English variant first, then [Strings], then any other language.
Strings collect_strings(const InfFile &raw) {
  Strings out;
  auto take = [&](const InfSection &s) {
    for (auto &l : s.lines)
      if (l.has_key && !l.values.empty()) out.emplace(inf_lower(l.key), l.values[0]);
  };
  for (auto pass : {0, 1, 2})
    for (auto &s : raw.sections) {
      std::string n = inf_lower(s.name);
      bool english = n == "strings.0409" || n == "strings.0009";
      bool plain = n == "strings";
      bool other = !english && !plain && n.rfind("strings.", 0) == 0;
      if ((pass == 0 && english) || (pass == 1 && plain) || (pass == 2 && other)) take(s);
    }
  return out;
}

}  // namespace

std::string inf_lower(const std::string &s) {
  std::string out = s;
  for (char &c : out)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return out;
}

bool inf_ends_with(const std::string &s, const char *suffix) {
  std::string l = inf_lower(s), t = suffix;
  return l.size() >= t.size() && l.compare(l.size() - t.size(), t.size(), t) == 0;
}

bool inf_same(const std::string &a, const std::string &b) { return inf_lower(a) == inf_lower(b); }

std::string inf_where(const InfFile &inf, int line, const std::string &message) {
  return inf.path + ":" + std::to_string(line) + ": " + message;
}

bool inf_parse(const std::string &path, const std::string &utf8, InfFile *inf, std::string *error) {
  std::vector<std::string> lines = split_lines(utf8);
  InfFile raw;
  if (!parse_with(path, lines, nullptr, &raw, error)) return false;
  Strings strings = collect_strings(raw);
  return parse_with(path, lines, &strings, inf, error);
}

bool inf_load(const std::string &path, InfFile *inf, std::string *error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = path + ": cannot open";
    return false;
  }
  std::string bytes(max_file + 1, '\0');
  in.read(&bytes[0], std::streamsize(bytes.size()));
  bytes.resize(size_t(in.gcount()));
  if (bytes.size() > max_file) {
    *error = path + ": larger than 16 MiB";
    return false;
  }
  std::string text, why;
  if (!inf_decode(bytes, &text, &why)) {
    *error = path + ": " + why;
    return false;
  }
  return inf_parse(path, text, inf, error);
}

const InfSection *inf_section(const InfFile &inf, const std::string &name) {
  for (auto &s : inf.sections)
    if (inf_same(s.name, name)) return &s;
  return nullptr;
}

const InfLine *inf_key(const InfSection &section, const std::string &key) {
  for (auto &l : section.lines)
    if (l.has_key && inf_same(l.key, key)) return &l;
  return nullptr;
}
