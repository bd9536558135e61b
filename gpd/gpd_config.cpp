#include "gpd_config.h"
#include "gpd_model.h"

#include <string.h>

void gpd_config_defaults(const gpd_doc* doc, gpd_config* c)
{
    c->choice.clear();
    c->chosen.assign(doc->features.size(), false);
    for (const gpd_feature& f : doc->features)
        c->choice.push_back(gpd_find_option(&f, f.default_option.c_str()));
}

bool gpd_config_set(
    const gpd_doc* doc, gpd_config* c, const char* feature, const char* option, std::string* err)
{
    int fi = gpd_find_feature(doc, feature);
    if (fi < 0) {
        *err = std::string("the driver has no feature ") + feature;
        return false;
    }
    int oi = gpd_find_option(&doc->features[fi], option);
    if (oi < 0) {
        *err = std::string("the feature ") + feature + " has no option " + option;
        return false;
    }
    c->choice[fi] = oi;
    c->chosen[fi] = true;
    return true;
}

// The non-empty items of "F=O;F=O".
static std::vector<std::string> choice_items(const char* text)
{
    std::vector<std::string> items;
    std::string s = text ? text : "";
    size_t start = 0;
    while (start < s.size()) {
        size_t end = s.find(';', start);
        if (end == std::string::npos)
            end = s.size();
        if (end > start)
            items.push_back(s.substr(start, end - start));
        start = end + 1;
    }
    return items;
}

bool gpd_config_parse(const gpd_doc* doc, const char* text, gpd_config* c, std::string* err)
{
    gpd_config next = *c;
    for (const std::string& item : choice_items(text)) {
        size_t eq = item.find('=');
        if (eq == std::string::npos) {
            *err = "a choice is Feature=Option: " + item;
            return false;
        }
        if (!gpd_config_set(doc, &next, item.substr(0, eq).c_str(), item.substr(eq + 1).c_str(), err))
            return false;
    }
    *c = next;
    return true;
}

void gpd_config_apply(const gpd_doc* doc, const char* text, gpd_config* c)
{
    std::string err;
    for (const std::string& item : choice_items(text)) {
        size_t eq = item.find('=');
        if (eq != std::string::npos)
            gpd_config_set(doc, c, item.substr(0, eq).c_str(), item.substr(eq + 1).c_str(), &err);
    }
}

std::string gpd_config_text(const gpd_doc* doc, const gpd_config* c)
{
    std::string out;
    for (size_t i = 0; i < doc->features.size(); i++) {
        if (!out.empty())
            out += ';';
        out += doc->features[i].name + "=" + doc->features[i].options[c->choice[i]].name;
    }
    return out;
}

static bool picked(const gpd_config* c, const gpd_ref& r)
{
    return c->choice[r.feature] == r.option;
}

static std::string ref_text(const gpd_doc* doc, const gpd_ref& r)
{
    const gpd_feature& f = doc->features[r.feature];
    return f.name + "." + f.options[r.option].name;
}

// The features of the first broken rule, in the order to try changing
// them: choices the user did not make first, the later feature first.
// Empty when no rule is broken.
static std::vector<int> first_conflict(const gpd_doc* doc, const gpd_config* c, std::string* why)
{
    std::vector<int> set;
    for (const gpd_constraint& k : doc->constraints) {
        if (!picked(c, k.from) || !picked(c, k.to))
            continue;
        if (why)
            *why = ref_text(doc, k.from) + " rules out " + ref_text(doc, k.to);
        set = {k.from.feature, k.to.feature};
        break;
    }
    for (size_t n = 0; set.empty() && n < doc->invalid.size(); n++) {
        bool all = true;
        for (const gpd_ref& r : doc->invalid[n])
            all = all && picked(c, r);
        if (!all)
            continue;
        if (why)
            *why = "invalid combination including " + ref_text(doc, doc->invalid[n][0]);
        for (const gpd_ref& r : doc->invalid[n])
            set.push_back(r.feature);
    }
    std::vector<int> order;
    for (int pinned = 0; pinned < 2; pinned++)
        for (size_t i = set.size(); i-- > 0;)
            if (c->chosen[set[i]] == (pinned == 1))
                order.push_back(set[i]);
    return order;
}

bool gpd_config_conflicts(const gpd_doc* doc, const gpd_config* c, std::string* why)
{
    return !first_conflict(doc, c, why).empty();
}

// Whether a rule that involves feature fi is broken.
static bool broken_with(const gpd_doc* doc, const gpd_config* c, int fi)
{
    for (const gpd_constraint& k : doc->constraints)
        if ((k.from.feature == fi || k.to.feature == fi) && picked(c, k.from) && picked(c, k.to))
            return true;
    for (const auto& set : doc->invalid) {
        bool all = true, involved = false;
        for (const gpd_ref& r : set) {
            all = all && picked(c, r);
            involved |= r.feature == fi;
        }
        if (all && involved)
            return true;
    }
    return false;
}

// Moves feature fi to its default or the first option that breaks no rule
// it is part of.
static bool move_feature(const gpd_doc* doc, gpd_config* c, int fi)
{
    const gpd_feature& f = doc->features[fi];
    int def = gpd_find_option(&f, f.default_option.c_str());
    int was = c->choice[fi];
    std::vector<int> order = {def};
    for (int i = 0; i < (int)f.options.size(); i++)
        if (i != def)
            order.push_back(i);
    for (int o : order) {
        if (o == was)
            continue;
        c->choice[fi] = o;
        if (!broken_with(doc, c, fi))
            return true;
    }
    c->choice[fi] = was;
    return false;
}

bool gpd_config_resolve(const gpd_doc* doc, gpd_config* c)
{
    // Each round settles one rule; more rounds than there are rules and
    // features means the rules go round in circles.
    size_t rounds = doc->constraints.size() + doc->invalid.size() + doc->features.size() + 1;
    for (size_t round = 0; round < rounds; round++) {
        std::vector<int> candidates = first_conflict(doc, c, nullptr);
        if (candidates.empty())
            return true;
        bool moved = false;
        for (int fi : candidates) {
            if (move_feature(doc, c, fi)) {
                c->chosen[fi] = false; // where the user chose it, it could not stand
                moved = true;
                break;
            }
        }
        if (!moved)
            return false;
    }
    return first_conflict(doc, c, nullptr).empty();
}

static const std::vector<gpd_entry>* switch_branch(
    const gpd_doc* doc, const gpd_config* c, const gpd_entry& sw)
{
    int fi = gpd_find_feature(doc, sw.value.c_str());
    const std::string* opt = fi >= 0 ? &doc->features[fi].options[c->choice[fi]].name : nullptr;
    const gpd_entry* def = nullptr;
    for (const gpd_entry& k : sw.kids) {
        if (k.key == "Case" && opt && k.value == *opt)
            return &k.kids;
        if (k.key == "Default")
            def = &k;
    }
    return def ? &def->kids : nullptr;
}

void gpd_flatten(const gpd_doc* doc, const gpd_config* c, const std::vector<gpd_entry>& entries,
    std::vector<const gpd_entry*>* out)
{
    for (const gpd_entry& e : entries) {
        if (e.key == "Switch") {
            const std::vector<gpd_entry>* branch = switch_branch(doc, c, e);
            if (branch)
                gpd_flatten(doc, c, *branch, out);
        } else if (e.key != "Feature" && e.key != "Option" && e.key != "Case"
            && e.key != "Default") {
            out->push_back(&e);
        }
    }
}

const gpd_entry* gpd_lookup(
    const gpd_doc* doc, const gpd_config* c, const std::vector<gpd_entry>& entries, const char* key)
{
    const gpd_entry* found = nullptr;
    for (const gpd_entry& e : entries) {
        if (e.key == "Switch") {
            const std::vector<gpd_entry>* branch = switch_branch(doc, c, e);
            const gpd_entry* in = branch ? gpd_lookup(doc, c, *branch, key) : nullptr;
            if (in)
                found = in;
        } else if (e.key == key) {
            found = &e;
        }
    }
    return found;
}

const gpd_entry* gpd_option_attr(
    const gpd_doc* doc, const gpd_config* c, const char* feature, const char* key)
{
    int fi = gpd_find_feature(doc, feature);
    if (fi < 0)
        return nullptr;
    const gpd_option& o = doc->features[fi].options[c->choice[fi]];
    return gpd_lookup(doc, c, o.entry->kids, key);
}

std::string gpd_chosen(const gpd_doc* doc, const gpd_config* c, const char* feature)
{
    int fi = gpd_find_feature(doc, feature);
    return fi < 0 ? "" : doc->features[fi].options[c->choice[fi]].name;
}
