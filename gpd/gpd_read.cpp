// Reading GPD files into the entry tree: preprocessor, includes, macros.
#include "gpd_file.h"
#include "gpd_lex.h"
#include "gpd_model.h"
#include "gpd_stdnames.h"

#include <ctype.h>
#include <dirent.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <map>
#include <set>

namespace {

struct reader {
    std::string dir; // where includes are looked up
    std::map<std::string, std::string> macros; // value macros
    std::map<std::string, std::vector<gpd_entry>> blocks; // block macros
    std::set<std::string> symbols; // #Define'd
    size_t entries = 0;
    bool defining = false; // reading a *Macros block: each entry defines one
    std::string* err;
};

struct source {
    std::string name; // for messages
    std::vector<gpd_tok> toks;
    size_t pos = 0;
    // Preprocessor state: for each open #Ifdef, whether its section is
    // kept and whether one of its branches was taken already.
    std::vector<std::pair<bool, bool>> conds;
    int depth; // include depth
    int nesting = 0; // open braces
};

bool fail(reader* r, const std::string& file, int line, const std::string& what)
{
    *r->err = file + ":" + std::to_string(line) + ": " + what;
    return false;
}

bool active(const source* s)
{
    for (const auto& c : s->conds)
        if (!c.first)
            return false;
    return true;
}

bool read_file(const std::string& path, std::string* text, std::string* why)
{
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) {
        *why = "cannot open " + path;
        return false;
    }
    struct stat st;
    if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > GPD_MAX_FILE_BYTES) {
        fclose(f);
        *why = path + " is not a regular file of at most 8 MiB";
        return false;
    }
    text->resize((size_t)st.st_size);
    size_t got = fread(&(*text)[0], 1, text->size(), f);
    fclose(f);
    if (got != text->size()) {
        *why = "cannot read " + path;
        return false;
    }
    return true;
}

// The file called name in dir, in any letter case: driver files name each
// other as a Windows file system would find them.
bool find_file(const std::string& dir, const std::string& name, std::string* path)
{
    DIR* d = opendir(dir.c_str());
    if (!d)
        return false;
    bool found = false;
    while (struct dirent* e = readdir(d)) {
        if (gpd_same(e->d_name, name.c_str())) {
            *path = dir + "/" + e->d_name;
            found = true;
            break;
        }
    }
    closedir(d);
    return found;
}

// Handles #Ifdef, #Elseifdef, #Else, #Endif, #Define and #Undefine.
// Returns 1 when tok was one of them, 0 when not, -1 on a fault.
int preprocess(reader* r, source* s, const gpd_tok& t)
{
    const std::string& k = t.key;
    bool cond = k == "Ifdef" || k == "Elseifdef" || k == "Else" || k == "Endif";
    if (!t.directive && !cond)
        return 0;
    if (k == "Ifdef") {
        bool keep = r->symbols.count(t.value) > 0;
        s->conds.push_back({keep, keep});
    } else if (k == "Elseifdef" || k == "Else") {
        if (s->conds.empty())
            return fail(r, s->name, t.line, k + " without Ifdef") ? 1 : -1;
        auto& c = s->conds.back();
        bool keep = !c.second && (k == "Else" || r->symbols.count(t.value) > 0);
        c.first = keep;
        c.second = c.second || keep;
    } else if (k == "Endif") {
        if (s->conds.empty())
            return fail(r, s->name, t.line, "Endif without Ifdef") ? 1 : -1;
        s->conds.pop_back();
    } else if (!active(s)) {
        return 1;
    } else if (k == "Define") {
        r->symbols.insert(t.value);
    } else if (k == "Undefine") {
        r->symbols.erase(t.value);
    } else if (t.directive) {
        return 0; // other '#' words are left to the entry rules
    }
    return 1;
}

// Replaces "=name" outside quotes with the value macro's text.
bool expand(reader* r, const source* s, int line, std::string* v)
{
    for (int round = 0; v->find('=') != std::string::npos; round++) {
        if (round == GPD_MAX_MACRO_DEPTH)
            return fail(r, s->name, line, "macros nest too deep");
        std::string out;
        bool quoted = false, changed = false;
        for (size_t i = 0; i < v->size(); i++) {
            char c = (*v)[i];
            if (c == '"')
                quoted = !quoted;
            if (quoted || c != '=') {
                out.push_back(c);
                continue;
            }
            size_t j = i + 1;
            while (j < v->size() && (isalnum((unsigned char)(*v)[j]) || (*v)[j] == '_'))
                j++;
            std::string name = v->substr(i + 1, j - i - 1);
            auto m = r->macros.find(name);
            if (m != r->macros.end()) {
                out += m->second;
            } else if (name.size() > 8 && name.compare(name.size() - 8, 8, "_DISPLAY") == 0) {
                // A standard display name we have no id for: its readable form.
                char text[128];
                gpd_pretty_name(name.substr(0, name.size() - 8).c_str(), text, sizeof text);
                out += std::string("\"") + text + "\"";
            } else {
                return fail(r, s->name, line, "unknown macro =" + name);
            }
            changed = true;
            i = j - 1;
        }
        if (out.size() > GPD_MAX_VALUE_BYTES)
            return fail(r, s->name, line, "a value grows too long with its macros");
        *v = out;
        if (!changed)
            break;
    }
    return true;
}

bool read_tokens(reader* r, source* s, std::vector<gpd_entry>* into, int open_line);

bool include(reader* r, source* s, const gpd_tok& t, std::vector<gpd_entry>* into)
{
    std::string name = t.value;
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"')
        name = name.substr(1, name.size() - 2);
    for (char& c : name)
        if (c == '\\')
            c = '/';
    if (name.empty() || name.find("..") != std::string::npos || name[0] == '/')
        return fail(r, s->name, t.line, "include names a file outside the driver: " + t.value);
    if (s->depth >= GPD_MAX_INCLUDE_DEPTH)
        return fail(r, s->name, t.line, "includes nest too deep");
    size_t slash = name.rfind('/');
    std::string sub = slash == std::string::npos ? "" : "/" + name.substr(0, slash);
    std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
    std::string path, text, why;
    source inc;
    inc.depth = s->depth + 1;
    if (find_file(r->dir + sub, base, &path)) {
        if (!read_file(path, &text, &why))
            return fail(r, s->name, t.line, why);
        inc.name = path;
    } else if (gpd_same(base.c_str(), "StdNames.gpd")) {
        text = gpd_stdnames_text();
        inc.name = "StdNames.gpd (built in)";
    } else {
        return fail(r, s->name, t.line, "included file not found: " + name);
    }
    std::string lex_err;
    if (!gpd_lex(text, &inc.toks, &lex_err)) {
        *r->err = inc.name + ":" + lex_err.substr(5); // "line N: ..." as "file:N: ..."
        return false;
    }
    return read_tokens(r, &inc, into, 0);
}

// The entries of the block that follows, when one does.
bool read_block(reader* r, source* s, gpd_entry* e)
{
    if (s->pos < s->toks.size() && s->toks[s->pos].kind == GPD_TOK_OPEN && active(s)) {
        if (s->nesting >= GPD_MAX_NESTING)
            return fail(r, s->name, s->toks[s->pos].line, "blocks nest too deep");
        s->nesting++;
        bool ok = read_tokens(r, s, &e->kids, s->toks[s->pos++].line);
        s->nesting--;
        return ok;
    }
    return true;
}

bool handle_entry(reader* r, source* s, const gpd_tok& t, std::vector<gpd_entry>* into)
{
    if (++r->entries > GPD_MAX_ENTRIES)
        return fail(r, s->name, t.line, "too many entries");
    if (t.key == "Include")
        return include(r, s, t, into);
    gpd_entry e;
    e.key = t.key;
    e.value = t.value;
    e.file = s->name;
    e.line = t.line;
    if (e.key != "BlockMacro" && e.key != "InsertBlock" && !expand(r, s, t.line, &e.value))
        return false;
    if (r->defining)
        r->macros[e.key] = e.value;
    bool was = r->defining;
    r->defining = e.key == "Macros";
    bool ok = read_block(r, s, &e);
    r->defining = was;
    if (!ok)
        return false;
    if (e.key == "Macros")
        return true;
    if (e.key == "BlockMacro") {
        r->blocks[e.value] = e.kids;
        return true;
    }
    if (e.key == "InsertBlock") {
        auto b = r->blocks.find(e.value.size() > 1 && e.value[0] == '=' ? e.value.substr(1) : "");
        if (b == r->blocks.end())
            return fail(r, s->name, t.line, "unknown block macro " + t.value);
        into->insert(into->end(), b->second.begin(), b->second.end());
        return true;
    }
    into->push_back(std::move(e));
    return true;
}

// Reads entries up to the end of the source, or with open_line > 0 up to
// the '}' that closes the block opened there.
bool read_tokens(reader* r, source* s, std::vector<gpd_entry>* into, int open_line)
{
    bool nested = open_line > 0;
    while (s->pos < s->toks.size()) {
        const gpd_tok& t = s->toks[s->pos++];
        if (t.kind == GPD_TOK_ENTRY) {
            int pp = preprocess(r, s, t);
            if (pp < 0)
                return false;
            if (pp > 0 || !active(s))
                continue;
            if (!handle_entry(r, s, t, into))
                return false;
        } else if (!active(s)) {
            continue;
        } else if (t.kind == GPD_TOK_CLOSE) {
            if (!nested)
                return fail(r, s->name, t.line, "'}' without '{'");
            return true;
        } else {
            return fail(r, s->name, t.line, "'{' that follows no entry");
        }
    }
    if (nested)
        return fail(r, s->name, open_line, "'{' is not closed");
    if (!s->conds.empty())
        return fail(r, s->name, s->toks.back().line, "Ifdef is not closed");
    return true;
}

} // namespace

bool gpd_same(const char* a, const char* b)
{
    for (; *a && *b; a++, b++)
        if (tolower((unsigned char)*a) != tolower((unsigned char)*b))
            return false;
    return *a == *b;
}

bool gpd_load_text(
    const std::string& text, const char* name, const char* dir, gpd_doc* doc, std::string* err)
{
    *doc = gpd_doc();
    doc->path = name;
    reader r;
    r.dir = dir;
    r.err = err;
    source s;
    s.name = name;
    s.depth = 0;
    std::string lex_err;
    if (!gpd_lex(text, &s.toks, &lex_err)) {
        *err = std::string(name) + ":" + lex_err.substr(5);
        return false;
    }
    if (!read_tokens(&r, &s, &doc->root, 0))
        return false;
    return gpd_build_model(doc, err);
}

bool gpd_load(const char* path, gpd_doc* doc, std::string* err)
{
    std::string text, why;
    if (!read_file(path, &text, &why)) {
        *err = why;
        return false;
    }
    std::string p = path;
#ifdef _WIN32
    size_t slash = p.find_last_of("/\\"); // the Windows build: either separator
#else
    size_t slash = p.rfind('/');
#endif
    std::string dir = slash == std::string::npos ? "." : p.substr(0, slash);
    if (dir.empty())
        dir = "/";
    return gpd_load_text(text, path, dir.c_str(), doc, err);
}
