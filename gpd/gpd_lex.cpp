#include "gpd_lex.h"

#include <string.h>

namespace {

struct lexer {
    const std::string& s;
    size_t i;
    int line;
    std::vector<gpd_tok>* out;
    std::string* err;
};

bool fail(lexer* lx, const char* what)
{
    *lx->err = "line " + std::to_string(lx->line) + ": " + what;
    return false;
}

bool is_space(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}

bool is_key_char(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'
        || c == '?' || c == '.' || c == '-';
}

// At a "*%" comment: skips to the end of the line.
void skip_comment(lexer* lx)
{
    while (lx->i < lx->s.size() && lx->s[lx->i] != '\n')
        lx->i++;
}

bool at_comment(const lexer* lx, size_t i)
{
    return i + 1 < lx->s.size() && lx->s[i] == '*' && lx->s[i + 1] == '%';
}

// Whether a '{' at i opens a block: nothing but space, a comment, another
// entry or a brace follows it on its line.
bool opens_block(const lexer* lx, size_t i)
{
    for (i++; i < lx->s.size() && is_space(lx->s[i]); i++) { }
    if (i >= lx->s.size())
        return true;
    char c = lx->s[i];
    if (c == '\n' || c == '*' || c == '{' || c == '}' || c == '#')
        return true;
    // "{ NAME: value" in a *Macros block on one line.
    while (i < lx->s.size() && is_key_char(lx->s[i]))
        i++;
    while (i < lx->s.size() && is_space(lx->s[i]))
        i++;
    return i < lx->s.size() && lx->s[i] == ':';
}

// The next line continues the value when it starts with '+'.
bool continues(const lexer* lx, size_t nl)
{
    size_t j = nl + 1;
    while (j < lx->s.size() && is_space(lx->s[j]))
        j++;
    return j < lx->s.size() && lx->s[j] == '+';
}

void trim(std::string* v)
{
    size_t a = 0, b = v->size();
    while (a < b && is_space((*v)[a]))
        a++;
    while (b > a && is_space((*v)[b - 1]))
        b--;
    *v = v->substr(a, b - a);
}

// Reads a value from lx->i up to its end; leaves lx->i at the '{', '}' or
// line end that ended it.
bool read_value(lexer* lx, std::string* v)
{
    int depth = 0;
    bool quoted = false;
    while (lx->i < lx->s.size()) {
        char c = lx->s[lx->i];
        if (c == '\n') {
            if (quoted)
                return fail(lx, "a quoted string runs past the end of its line");
            if (!continues(lx, lx->i))
                break;
            lx->line++;
            lx->i = lx->s.find('+', lx->i) + 1;
            while (lx->i < lx->s.size() && is_space(lx->s[lx->i]))
                lx->i++;
            if (!v->empty() && !is_space(v->back()))
                v->push_back(' ');
            continue;
        }
        if (!quoted && at_comment(lx, lx->i)) {
            skip_comment(lx);
            continue;
        }
        if (c == '"')
            quoted = !quoted;
        // Another entry on the same line ends this one.
        if (!quoted && depth == 0 && c == '*' && !v->empty() && is_space(v->back()))
            break;
        if (!quoted && c == '{') {
            if (depth == 0 && opens_block(lx, lx->i))
                break;
            depth++;
        }
        if (!quoted && c == '}') {
            if (depth == 0)
                break;
            depth--;
        }
        v->push_back(c);
        lx->i++;
    }
    if (quoted)
        return fail(lx, "a quoted string is not closed");
    trim(v);
    return true;
}

bool read_entry(lexer* lx, bool directive)
{
    gpd_tok t;
    t.kind = GPD_TOK_ENTRY;
    t.directive = directive;
    t.line = lx->line;
    while (lx->i < lx->s.size() && is_key_char(lx->s[lx->i]))
        t.key.push_back(lx->s[lx->i++]);
    if (t.key.empty())
        return fail(lx, "an entry has no keyword");
    while (lx->i < lx->s.size() && is_space(lx->s[lx->i]))
        lx->i++;
    if (lx->i < lx->s.size() && lx->s[lx->i] == ':') {
        lx->i++;
        if (!read_value(lx, &t.value))
            return false;
    } else if (lx->i < lx->s.size() && lx->s[lx->i] == '{') {
        // "*Default {": a block with no value
    } else if (t.key != "Else" && t.key != "Endif") {
        // Only the bare preprocessor words stand without a colon.
        return fail(lx, ("the entry " + t.key + " has no ':'").c_str());
    }
    lx->out->push_back(t);
    return true;
}

} // namespace

bool gpd_lex(const std::string& text, std::vector<gpd_tok>* out, std::string* err)
{
    lexer lx{text, 0, 1, out, err};
    out->clear();
    while (lx.i < text.size()) {
        char c = text[lx.i];
        if (c == '\n') {
            lx.line++;
            lx.i++;
        } else if (is_space(c)) {
            lx.i++;
        } else if (at_comment(&lx, lx.i)) {
            skip_comment(&lx);
        } else if (c == '{' || c == '}') {
            out->push_back({c == '{' ? GPD_TOK_OPEN : GPD_TOK_CLOSE, "", "", false, lx.line});
            lx.i++;
        } else if (c == '*' || c == '#') {
            lx.i++;
            if (!read_entry(&lx, c == '#'))
                return false;
        } else if (is_key_char(c)) {
            // Value macro definitions inside *Macros are written without '*'.
            if (!read_entry(&lx, false))
                return false;
        } else if (c == '\0' || c == 0x1a) {
            lx.i++; // NUL padding and the DOS end-of-file mark
        } else {
            return fail(&lx, "text that is not an entry");
        }
    }
    return true;
}
