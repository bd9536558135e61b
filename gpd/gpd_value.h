// The value types of GPD entries: integers, PAIR(x, y), RECT(l, t, r, b),
// TRUE/FALSE, symbols, LIST(a, b, ...) and quoted strings with <hex> parts.
#pragma once

#include <string>
#include <vector>

bool gpd_int(const std::string& v, long* out);
bool gpd_pair(const std::string& v, long* x, long* y);
bool gpd_rect(const std::string& v, long out[4]);
bool gpd_bool(const std::string& v, bool* out);
// A symbol: letters, digits and '_' (a lone word).
bool gpd_symbol(const std::string& v);
// LIST(a, b) or a single item, each item trimmed.
bool gpd_list(const std::string& v, std::vector<std::string>* items);
// One or more quoted strings, concatenated; "<1B 45>" parts are hex bytes,
// "%%" is one '%'.  Text outside quotes is an error.
bool gpd_string(const std::string& v, std::string* bytes);
