// Standard variable expressions in command arguments: integers, the
// standard variables, + - * / MOD, max(a, b), min(a, b), max_repeat(a) and
// parentheses, with C's precedence.
#pragma once

#include <string>

struct gpd_vars;

// Evaluates expr.  *repeat is set when the whole expression is
// max_repeat(...).  vars may be null to check the syntax only.  False with
// *err on a syntax fault, an unknown variable or a division by zero.
bool gpd_expr_eval(
    const std::string& expr, const gpd_vars* vars, long* out, bool* repeat, std::string* err);

// The index of a standard variable we know by name (gpd_var), or -1; the
// documented ones we do not keep give -2 (their value is 0).
int gpd_var_index(const std::string& name);
