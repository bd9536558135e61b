#include "gpd_expr.h"
#include "gpd_command.h"

#include <ctype.h>
#include <string.h>

static const char* const g_var_names[GV_COUNT] = {"NumOfDataBytes", "RasterDataWidthInBytes",
    "RasterDataHeightInPixels", "NumOfCopies", "DestX", "DestY", "DestXRel", "DestYRel",
    "LinefeedSpacing", "PhysPaperLength", "PhysPaperWidth", "TextYRes", "TextXRes",
    "GraphicsYRes", "GraphicsXRes", "CursorOriginX", "CursorOriginY", "PageNumber"};

// Documented variables for fonts, palettes, patterns and rectangles: a
// raster-only printer has no value for them.
static const char* const g_zero_vars[] = {"BlueValue", "CurrentFontID", "CurrentPaletteIndex",
    "FontBold", "FontHeight", "FontItalic", "FontMaxWidth", "FontStrikeThru", "FontUnderLine",
    "FontWidth", "GrayPercentage", "GreenValue", "NextFontID", "NextGlyph",
    "PaletteIndexToProgram", "PatternBrushID", "PatternBrushSize", "PatternBrushType",
    "PrintDirInCCDegrees", "RectXSize", "RectYSize", "RedValue"};

int gpd_var_index(const std::string& name)
{
    for (int i = 0; i < GV_COUNT; i++)
        if (name == g_var_names[i])
            return i;
    for (const char* z : g_zero_vars)
        if (name == z)
            return -2;
    return -1;
}

namespace {

struct parser {
    const std::string& s;
    size_t i;
    const gpd_vars* vars;
    std::string* err;
    int depth;
};

void skip(parser* p)
{
    while (p->i < p->s.size() && isspace((unsigned char)p->s[p->i]))
        p->i++;
}

bool fail(parser* p, const std::string& what)
{
    if (p->err->empty())
        *p->err = what + " in {" + p->s + "}";
    return false;
}

std::string word(parser* p)
{
    skip(p);
    size_t a = p->i;
    while (p->i < p->s.size() && (isalnum((unsigned char)p->s[p->i]) || p->s[p->i] == '_'))
        p->i++;
    return p->s.substr(a, p->i - a);
}

bool take(parser* p, char c)
{
    skip(p);
    if (p->i < p->s.size() && p->s[p->i] == c) {
        p->i++;
        return true;
    }
    return false;
}

bool sum(parser* p, long* out);

bool call(parser* p, const std::string& fn, long* out)
{
    long a = 0, b = 0;
    if (!take(p, '(') || !sum(p, &a))
        return fail(p, fn + " needs '(' and a value");
    if (fn != "max_repeat" && (!take(p, ',') || !sum(p, &b)))
        return fail(p, fn + " needs two values");
    if (!take(p, ')'))
        return fail(p, fn + " is not closed");
    *out = fn == "max" ? (a > b ? a : b) : fn == "min" ? (a < b ? a : b) : a;
    return true;
}

bool primary(parser* p, long* out)
{
    if (++p->depth > 64)
        return fail(p, "the expression nests too deep");
    skip(p);
    if (take(p, '(')) {
        if (!sum(p, out) || !take(p, ')'))
            return fail(p, "a '(' is not closed");
        p->depth--;
        return true;
    }
    if (take(p, '-')) {
        if (!primary(p, out))
            return false;
        *out = -*out;
        p->depth--;
        return true;
    }
    std::string w = word(p);
    if (w.empty())
        return fail(p, "a value is missing");
    p->depth--;
    if (isdigit((unsigned char)w[0])) {
        if (w.size() > 10 || w.find_first_not_of("0123456789") != std::string::npos)
            return fail(p, "a number is not one: " + w);
        *out = strtol(w.c_str(), nullptr, 10);
        return true;
    }
    if (w == "max" || w == "min" || w == "max_repeat")
        return call(p, w, out);
    int v = gpd_var_index(w);
    if (v == -1)
        return fail(p, "unknown standard variable " + w);
    *out = v >= 0 && p->vars ? p->vars->v[v] : 0;
    return true;
}

bool product(parser* p, long* out)
{
    if (!primary(p, out))
        return false;
    for (;;) {
        skip(p);
        size_t at = p->i;
        char op = 0;
        if (take(p, '*'))
            op = '*';
        else if (take(p, '/'))
            op = '/';
        else if (word(p) == "MOD")
            op = '%';
        else
            p->i = at;
        if (!op)
            return true;
        long b;
        if (!primary(p, &b))
            return false;
        if (op != '*' && b == 0 && p->vars)
            return fail(p, "division by zero");
        if (op == '*')
            *out *= b;
        else if (b != 0)
            *out = op == '/' ? *out / b : *out % b;
    }
}

bool sum(parser* p, long* out)
{
    if (!product(p, out))
        return false;
    for (;;) {
        char op = take(p, '+') ? '+' : take(p, '-') ? '-' : 0;
        if (!op)
            return true;
        long b;
        if (!product(p, &b))
            return false;
        *out = op == '+' ? *out + b : *out - b;
    }
}

} // namespace

bool gpd_expr_eval(
    const std::string& expr, const gpd_vars* vars, long* out, bool* repeat, std::string* err)
{
    err->clear();
    parser p{expr, 0, vars, err, 0};
    size_t start = expr.find_first_not_of(" \t");
    *repeat = start != std::string::npos && expr.compare(start, 10, "max_repeat") == 0;
    if (!sum(&p, out))
        return false;
    skip(&p);
    if (p.i != expr.size())
        return fail(&p, "text after the expression");
    return true;
}
