#include "gpd_value.h"

#include <ctype.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>

static std::string trimmed(const std::string& v)
{
    size_t a = 0, b = v.size();
    while (a < b && isspace((unsigned char)v[a]))
        a++;
    while (b > a && isspace((unsigned char)v[b - 1]))
        b--;
    return v.substr(a, b - a);
}

bool gpd_int(const std::string& v, long* out)
{
    std::string t = trimmed(v);
    if (t.empty() || t.size() > 12)
        return false;
    char* end;
    errno = 0;
    long n = strtol(t.c_str(), &end, 10);
    if (*end || errno)
        return false;
    *out = n;
    return true;
}

// The items between "NAME(" and ")", split at commas.
static bool call_args(const std::string& v, const char* name, std::vector<std::string>* args)
{
    std::string t = trimmed(v);
    size_t n = strlen(name);
    if (t.size() < n + 2 || t.compare(0, n, name) != 0)
        return false;
    std::string rest = trimmed(t.substr(n));
    if (rest.size() < 2 || rest[0] != '(' || rest.back() != ')')
        return false;
    args->clear();
    std::string inner = rest.substr(1, rest.size() - 2);
    size_t start = 0;
    for (size_t i = 0; i <= inner.size(); i++) {
        if (i == inner.size() || inner[i] == ',') {
            args->push_back(trimmed(inner.substr(start, i - start)));
            start = i + 1;
        }
    }
    return true;
}

static bool ints(const std::string& v, const char* name, long* out, size_t count)
{
    std::vector<std::string> args;
    if (!call_args(v, name, &args) || args.size() != count)
        return false;
    for (size_t i = 0; i < count; i++)
        if (!gpd_int(args[i], &out[i]))
            return false;
    return true;
}

bool gpd_pair(const std::string& v, long* x, long* y)
{
    long p[2];
    if (!ints(v, "PAIR", p, 2))
        return false;
    *x = p[0];
    *y = p[1];
    return true;
}

bool gpd_rect(const std::string& v, long out[4])
{
    return ints(v, "RECT", out, 4);
}

bool gpd_bool(const std::string& v, bool* out)
{
    std::string t = trimmed(v);
    if (t != "TRUE" && t != "FALSE")
        return false;
    *out = t == "TRUE";
    return true;
}

bool gpd_symbol(const std::string& v)
{
    if (v.empty())
        return false;
    for (char c : v)
        if (!isalnum((unsigned char)c) && c != '_')
            return false;
    return true;
}

bool gpd_list(const std::string& v, std::vector<std::string>* items)
{
    if (call_args(v, "LIST", items)) {
        if (items->size() == 1 && (*items)[0].empty())
            items->clear();
        return true;
    }
    items->assign(1, trimmed(v));
    return !(*items)[0].empty();
}

static int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = (char)tolower((unsigned char)c);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// "<1B 45>" from just after '<' to just after '>'.
static bool hex_part(const std::string& v, size_t* i, std::string* bytes)
{
    int half = -1;
    for (; *i < v.size(); (*i)++) {
        char c = v[*i];
        if (c == '>') {
            (*i)++;
            return half < 0;
        }
        if (isspace((unsigned char)c))
            continue;
        int d = hex_digit(c);
        if (d < 0)
            return false;
        if (half < 0) {
            half = d;
        } else {
            bytes->push_back((char)(half * 16 + d));
            half = -1;
        }
    }
    return false;
}

bool gpd_string(const std::string& v, std::string* bytes)
{
    bytes->clear();
    size_t i = 0;
    bool any = false;
    while (i < v.size()) {
        if (isspace((unsigned char)v[i])) {
            i++;
            continue;
        }
        if (v[i] != '"')
            return false;
        any = true;
        for (i++; i < v.size() && v[i] != '"';) {
            if (v[i] == '<') {
                i++;
                if (!hex_part(v, &i, bytes))
                    return false;
            } else if (v[i] == '%' && i + 1 < v.size() && v[i + 1] == '%') {
                bytes->push_back('%');
                i += 2;
            } else {
                bytes->push_back(v[i++]);
            }
        }
        if (i >= v.size())
            return false;
        i++;
    }
    return any;
}
