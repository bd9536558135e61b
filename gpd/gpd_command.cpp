#include "gpd_command.h"
#include "gpd_expr.h"
#include "gpd_value.h"

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

bool fail_at(std::string* err, const gpd_entry& e, const std::string& what)
{
    *err = e.file + ":" + std::to_string(e.line) + ": " + what;
    return false;
}

// "CmdName" or "CmdName: body".
void split_name(const std::string& v, std::string* name, std::string* body)
{
    size_t colon = v.find(':');
    *name = v.substr(0, colon);
    while (!name->empty() && isspace((unsigned char)name->back()))
        name->pop_back();
    *body = colon == std::string::npos ? "" : v.substr(colon + 1);
    size_t a = body->find_first_not_of(" \t");
    *body = a == std::string::npos ? "" : body->substr(a);
}

bool read_order(const gpd_entry& k, gpd_command* out, std::string* err)
{
    size_t dot = k.value.find('.');
    if (dot == std::string::npos || !gpd_int(k.value.substr(dot + 1), &out->order))
        return fail_at(err, k, "Order is SECTION.number: " + k.value);
    out->section = k.value.substr(0, dot);
    static const char* const sections[]
        = {"JOB_SETUP", "DOC_SETUP", "PAGE_SETUP", "PAGE_FINISH", "DOC_FINISH", "JOB_FINISH"};
    for (const char* s : sections)
        if (out->section == s)
            return true;
    return fail_at(err, k, "unknown Order section " + out->section);
}

// *Params: LIST(NumOfDataBytes, ...): the standard variables a plug-in's
// command gets, in order.
bool read_params(const gpd_entry& k, gpd_command* out, std::string* err)
{
    std::vector<std::string> names;
    if (!gpd_list(k.value, &names) || names.size() > 64)
        return fail_at(err, k, "*Params is a LIST of at most 64 standard variables");
    out->params.clear();
    for (const std::string& n : names) {
        int v = gpd_var_index(n);
        if (v == -1)
            return fail_at(err, k, "unknown standard variable in *Params: " + n);
        out->params.push_back(v);
    }
    return true;
}

// One argument "%[digits]type[[min,max]]{expr}" from p (at '%').
struct argument {
    int width = 0;
    char type = 0;
    bool ranged = false;
    long lo = 0, hi = 0;
    std::string expr;
};

bool read_argument(const std::string& s, size_t* p, argument* a, std::string* err)
{
    size_t i = *p + 1;
    while (i < s.size() && isdigit((unsigned char)s[i]) && a->width < 100)
        a->width = a->width * 10 + (s[i++] - '0');
    if (i >= s.size() || !strchr("dDcCflmqgn", s[i])) {
        *err = "unknown argument type in command";
        return false;
    }
    a->type = s[i++];
    if (i < s.size() && s[i] == '[') {
        size_t close = s.find(']', i);
        if (close == std::string::npos || sscanf(s.substr(i + 1, close - i - 1).c_str(), "%ld , %ld",
                                               &a->lo, &a->hi) != 2 || a->lo > a->hi) {
            *err = "an argument range is [min, max]";
            return false;
        }
        a->ranged = true;
        i = close + 1;
    }
    if (i >= s.size() || s[i] != '{') {
        *err = "an argument needs {expression}";
        return false;
    }
    size_t close = s.find('}', i);
    if (close == std::string::npos) {
        *err = "an argument's { is not closed";
        return false;
    }
    a->expr = s.substr(i + 1, close - i - 1);
    *p = close + 1;
    return true;
}

void put_word(std::string* out, long v, bool msb_first)
{
    unsigned char lo = (unsigned char)(v & 0xff), hi = (unsigned char)((v >> 8) & 0xff);
    out->push_back((char)(msb_first ? hi : lo));
    out->push_back((char)(msb_first ? lo : hi));
}

void format_value(const argument& a, long v, std::string* out)
{
    char buf[64];
    switch (a.type) {
    case 'd':
        snprintf(buf, sizeof buf, "%0*ld", a.width, v);
        *out += buf;
        break;
    case 'D':
        snprintf(buf, sizeof buf, "%+0*ld", a.width, v);
        *out += buf;
        break;
    case 'c':
        out->push_back((char)(v & 0xff));
        break;
    case 'C':
        out->push_back((char)((v + '0') & 0xff));
        break;
    case 'f':
        snprintf(buf, sizeof buf, "%ld.%02ld", labs(v) / 100, labs(v) % 100);
        *out += buf;
        break;
    case 'l':
    case 'm':
        put_word(out, v, a.type == 'm');
        break;
    case 'q':
        snprintf(buf, sizeof buf, "%lX", (unsigned long)v & 0xffffffffu);
        *out += buf;
        break;
    case 'n': {
        // Most significant first: 6 bits a byte (01bbbbbb), then the low 4
        // bits with the sign (001sbbbb, s = 1 for positive).
        unsigned long n = (unsigned long)labs(v);
        std::string high;
        for (unsigned long rest = n >> 4; rest; rest >>= 6)
            high.insert(high.begin(), (char)(0x40 | (rest & 63)));
        *out += high;
        out->push_back((char)(0x20 | (v >= 0 ? 0x10 : 0) | (n & 15)));
        break;
    }
    case 'g': {
        unsigned long n = 2 * (unsigned long)labs(v) + (v < 0);
        do {
            unsigned digit = (unsigned)(n & 63);
            n >>= 6;
            out->push_back((char)(n ? 63 + digit : 191 + digit));
        } while (n);
        break;
    }
    }
}

// Walks body: quoted parts append their bytes, arguments their values.
// With vars null only the syntax is checked.  A max_repeat argument out of
// range repeats the whole command.
bool walk(const std::string& body, const gpd_vars* vars, std::string* out, std::string* err)
{
    std::string literal_err;
    std::vector<std::pair<std::string, argument>> parts; // literal, or argument
    size_t i = 0;
    while (i < body.size()) {
        char c = body[i];
        if (isspace((unsigned char)c)) {
            i++;
        } else if (c == '"') {
            size_t close = body.find('"', i + 1);
            std::string bytes;
            if (close == std::string::npos || !gpd_string(body.substr(i, close - i + 1), &bytes)) {
                *err = "a quoted part of the command is not well formed";
                return false;
            }
            parts.push_back({bytes, argument()});
            i = close + 1;
        } else if (c == '%') {
            argument a;
            if (!read_argument(body, &i, &a, err))
                return false;
            parts.push_back({"", a});
        } else {
            *err = std::string("unexpected '") + c + "' in command";
            return false;
        }
    }
    if (parts.size() > 14) {
        *err = "a command has at most 14 parts";
        return false;
    }
    // Values first: a fault leaves out untouched.
    std::vector<long> values(parts.size());
    long repeat_total = -1;
    int repeat_part = -1;
    for (size_t p = 0; p < parts.size(); p++) {
        const argument& a = parts[p].second;
        if (!a.type)
            continue;
        bool repeat;
        if (!gpd_expr_eval(a.expr, vars, &values[p], &repeat, err))
            return false;
        if (repeat && a.ranged && a.hi > 0) {
            repeat_total = values[p] < a.lo ? a.lo : values[p];
            repeat_part = (int)p;
        } else if (a.ranged) {
            values[p] = values[p] < a.lo ? a.lo : values[p] > a.hi ? a.hi : values[p];
        }
    }
    if (!vars)
        return true;
    long left = repeat_total;
    for (int round = 0; round < 100000; round++) {
        if (repeat_part >= 0) {
            const argument& a = parts[repeat_part].second;
            values[repeat_part] = left > a.hi ? a.hi : left;
            left -= values[repeat_part];
        }
        for (size_t p = 0; p < parts.size(); p++) {
            if (parts[p].second.type)
                format_value(parts[p].second, values[p], out);
            else
                *out += parts[p].first;
        }
        if (repeat_part < 0 || left <= 0)
            break;
    }
    return true;
}

} // namespace

bool gpd_command_check(const std::string& body, std::string* err)
{
    return walk(body, nullptr, nullptr, err);
}

bool gpd_command_emit(
    const std::string& body, const gpd_vars* vars, std::string* out, std::string* err)
{
    std::string bytes;
    if (!walk(body, vars, &bytes, err))
        return false;
    *out += bytes;
    return true;
}

bool gpd_command_read(const gpd_entry& e, gpd_command* out, std::string* err)
{
    *out = gpd_command();
    out->entry = &e;
    split_name(e.value, &out->name, &out->body);
    for (const gpd_entry& k : e.kids) {
        if (k.key == "Cmd")
            out->body = k.value;
        else if (k.key == "Order" && !read_order(k, out, err))
            return false;
        else if (k.key == "CallbackID") {
            out->callback = true;
            if (!gpd_int(k.value, &out->callback_id) || out->callback_id < 0)
                return fail_at(err, k, out->name + ": *CallbackID is a number from 0");
        } else if (k.key == "Params" && !read_params(k, out, err))
            return false;
    }
    std::string why;
    if (!out->callback && !gpd_command_check(out->body, &why))
        return fail_at(err, e, out->name + ": " + why);
    return true;
}

static bool find_in(const std::vector<const gpd_entry*>& flat, const char* name, gpd_command* out)
{
    const gpd_entry* found = nullptr;
    for (const gpd_entry* e : flat) {
        if (e->key != "Command")
            continue;
        std::string n, body;
        split_name(e->value, &n, &body);
        if (n == name)
            found = e;
    }
    std::string err;
    return found && gpd_command_read(*found, out, &err);
}

bool gpd_find_command(const gpd_doc* doc, const gpd_config* c, const char* name, gpd_command* out)
{
    std::vector<const gpd_entry*> flat;
    gpd_flatten(doc, c, doc->root, &flat);
    return find_in(flat, name, out);
}

bool gpd_option_command(const gpd_doc* doc, const gpd_config* c, int feature, gpd_command* out)
{
    const gpd_option& o = doc->features[feature].options[c->choice[feature]];
    if (!o.entry || o.entry == doc->features[feature].entry)
        return false; // a synthesized feature has no commands
    std::vector<const gpd_entry*> flat;
    gpd_flatten(doc, c, o.entry->kids, &flat);
    return find_in(flat, "CmdSelect", out);
}
