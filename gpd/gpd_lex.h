// Splitting GPD text into entries and braces, before any meaning is given
// to them.
#pragma once

#include <string>
#include <vector>

enum gpd_tok_kind { GPD_TOK_ENTRY, GPD_TOK_OPEN, GPD_TOK_CLOSE };

struct gpd_tok {
    gpd_tok_kind kind;
    std::string key; // ENTRY: the keyword, without '*' or '#'
    std::string value; // ENTRY: the value text, trimmed
    bool directive = false; // written with '#' (preprocessor)
    int line = 0;
};

// Splits text.  "*%" starts a comment; a line starting with '+' continues
// the value before it.  A '{' ends a value only where a block starts (end
// of line, or another entry or brace follows); braces of command argument
// expressions (%d{DestX}) stay in the value.  False with *err
// ("line N: ...") for text that is not entries.
bool gpd_lex(const std::string& text, std::vector<gpd_tok>* out, std::string* err);
