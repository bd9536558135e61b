#include "gpd_model.h"
#include "gpd_command.h"
#include "gpd_stdnames.h"
#include "gpd_value.h"

#include <string.h>

namespace {

bool fail(std::string* err, const gpd_entry& e, const std::string& what)
{
    *err = e.file + ":" + std::to_string(e.line) + ": " + what;
    return false;
}

const gpd_entry* find_kid(const std::vector<gpd_entry>& kids, const char* key)
{
    const gpd_entry* found = nullptr;
    for (const gpd_entry& k : kids)
        if (k.key == key)
            found = &k; // the last one holds
    return found;
}

bool add_option(gpd_feature* f, const gpd_entry& e, std::string* err)
{
    if (!gpd_symbol(e.value))
        return fail(err, e, "an option name is a symbol: " + e.value);
    if (gpd_find_option(f, e.value.c_str()) >= 0)
        return fail(err, e, "option " + e.value + " is given twice in " + f->name);
    gpd_option o;
    o.name = e.value;
    o.display = gpd_display_name(e.kids);
    if (o.display.empty()) {
        const gpd_std_paper* p = f->name == "PaperSize" ? gpd_std_paper_find(o.name.c_str()) : nullptr;
        char text[128];
        gpd_pretty_name(o.name.c_str(), text, sizeof text);
        o.display = p ? p->text : text;
    }
    o.entry = &e;
    f->options.push_back(o);
    return true;
}

// The feature *Installable? TRUE adds: Installed or not, whose choices
// carry the feature's *InstalledConstraints and *NotInstalledConstraints.
void add_installable(gpd_doc* doc, const gpd_feature& f)
{
    gpd_feature s;
    const gpd_entry* name = find_kid(f.entry->kids, "InstallableFeatureName");
    s.name = name && gpd_symbol(name->value) ? name->value : f.name + "Installed";
    s.display = f.display + " installed";
    s.default_option = "NotInstalled";
    s.entry = f.entry;
    s.options.push_back({"Installed", "Installed", f.entry});
    s.options.push_back({"NotInstalled", "Not Installed", f.entry});
    doc->features.push_back(s);
}

bool add_feature(gpd_doc* doc, const gpd_entry& e, std::string* err)
{
    if (!gpd_symbol(e.value))
        return fail(err, e, "a feature name is a symbol: " + e.value);
    if (gpd_find_feature(doc, e.value.c_str()) >= 0)
        return fail(err, e, "feature " + e.value + " is given twice");
    gpd_feature f;
    f.name = e.value;
    f.display = gpd_display_name(e.kids);
    if (f.display.empty())
        f.display = f.name;
    f.entry = &e;
    for (const gpd_entry& k : e.kids) {
        if (k.key == "Option" && !add_option(&f, k, err))
            return false;
        if (k.key == "DefaultOption")
            f.default_option = k.value;
        if (k.key == "Installable?" && !gpd_bool(k.value, &f.installable))
            return fail(err, k, "Installable? is TRUE or FALSE");
        if (k.key == "UIType")
            f.pick_many = k.value == "PICKMANY";
    }
    if (f.options.empty())
        return fail(err, e, "feature " + f.name + " has no options");
    if (f.default_option.empty())
        f.default_option = f.options[0].name;
    else if (gpd_find_option(&f, f.default_option.c_str()) < 0)
        return fail(err, e, "the default of " + f.name + " is no option: " + f.default_option);
    doc->features.push_back(f);
    if (f.installable)
        add_installable(doc, f);
    return true;
}

void collect_features(const std::vector<gpd_entry>& entries, std::vector<const gpd_entry*>* out)
{
    for (const gpd_entry& e : entries) {
        if (e.key == "Feature")
            out->push_back(&e);
    }
}

// "F.O", "LIST(F.O, ...)" or "F.LIST(O1, O2)" into refs.
bool parse_refs(const gpd_doc* doc, const gpd_entry& e, std::vector<gpd_ref>* refs, std::string* err)
{
    std::string v = e.value;
    size_t dot = v.find('.');
    if (dot != std::string::npos && v.compare(dot + 1, 5, "LIST(") == 0) {
        std::vector<std::string> opts;
        std::string feature = v.substr(0, dot);
        gpd_list(v.substr(dot + 1), &opts);
        for (const std::string& o : opts) {
            gpd_ref r;
            if (!gpd_parse_ref(doc, feature + "." + o, &r))
                return fail(err, e, "unknown feature or option " + feature + "." + o);
            refs->push_back(r);
        }
        return true;
    }
    std::vector<std::string> items;
    if (!gpd_list(v, &items))
        return fail(err, e, "a constraint names Feature.Option");
    for (const std::string& item : items) {
        gpd_ref r;
        if (!gpd_parse_ref(doc, item, &r))
            return fail(err, e, "unknown feature or option " + item);
        refs->push_back(r);
    }
    return true;
}

bool option_constraints(gpd_doc* doc, int fi, int oi, const gpd_entry& opt, std::string* err)
{
    for (const gpd_entry& k : opt.kids) {
        if (k.key != "Constraints")
            continue;
        std::vector<gpd_ref> refs;
        if (!parse_refs(doc, k, &refs, err))
            return false;
        for (const gpd_ref& r : refs)
            doc->constraints.push_back({{fi, oi}, r});
    }
    return true;
}

bool installable_constraints(gpd_doc* doc, const gpd_feature& f, std::string* err)
{
    const gpd_entry* name = find_kid(f.entry->kids, "InstallableFeatureName");
    int si = gpd_find_feature(
        doc, (name && gpd_symbol(name->value) ? name->value : f.name + "Installed").c_str());
    const char* keys[] = {"InstalledConstraints", "NotInstalledConstraints"};
    for (int o = 0; o < 2; o++) {
        for (const gpd_entry& k : f.entry->kids) {
            if (k.key != keys[o])
                continue;
            std::vector<gpd_ref> refs;
            if (!parse_refs(doc, k, &refs, err))
                return false;
            for (const gpd_ref& r : refs)
                doc->constraints.push_back({{si, o}, r});
        }
    }
    return true;
}

bool build_constraints(gpd_doc* doc, std::string* err)
{
    size_t n = doc->features.size();
    for (size_t fi = 0; fi < n; fi++) {
        const gpd_feature& f = doc->features[fi];
        if (f.installable && !installable_constraints(doc, f, err))
            return false;
        if (fi > 0 && doc->features[fi - 1].installable)
            continue; // the synthesized feature: its options are not entries
        for (size_t oi = 0; oi < f.options.size(); oi++)
            if (!option_constraints(doc, (int)fi, (int)oi, *f.options[oi].entry, err))
                return false;
    }
    for (const gpd_entry& e : doc->root) {
        if (e.key != "InvalidCombination")
            continue;
        std::vector<gpd_ref> refs;
        if (!parse_refs(doc, e, &refs, err))
            return false;
        if (refs.size() < 2)
            return fail(err, e, "an invalid combination names at least two options");
        doc->invalid.push_back(refs);
    }
    return true;
}

// Every *Command anywhere in the tree reads well, so that a bad one is
// reported when the GPD is read, not half-way through a job.
bool check_commands(const std::vector<gpd_entry>& entries, std::string* err)
{
    for (const gpd_entry& e : entries) {
        gpd_command c;
        if (e.key == "Command" && !gpd_command_read(e, &c, err))
            return false;
        if (!check_commands(e.kids, err))
            return false;
    }
    return true;
}

} // namespace

std::string gpd_display_name(const std::vector<gpd_entry>& entries)
{
    std::string text;
    const gpd_entry* name = find_kid(entries, "Name");
    if (name && gpd_string(name->value, &text))
        return text;
    const gpd_entry* rc = find_kid(entries, "rcNameID");
    long id;
    if (rc && gpd_int(rc->value, &id) && gpd_std_resource(id))
        return gpd_std_resource(id);
    if (rc && gpd_string(rc->value, &text))
        return text;
    return "";
}

bool gpd_parse_ref(const gpd_doc* doc, const std::string& text, gpd_ref* out)
{
    size_t dot = text.find('.');
    if (dot == std::string::npos)
        return false;
    int f = gpd_find_feature(doc, text.substr(0, dot).c_str());
    if (f < 0)
        return false;
    int o = gpd_find_option(&doc->features[f], text.substr(dot + 1).c_str());
    if (o < 0)
        return false;
    *out = {f, o};
    return true;
}

int gpd_find_feature(const gpd_doc* doc, const char* name)
{
    for (size_t i = 0; i < doc->features.size(); i++)
        if (doc->features[i].name == name)
            return (int)i;
    return -1;
}

int gpd_find_option(const gpd_feature* f, const char* name)
{
    for (size_t i = 0; i < f->options.size(); i++)
        if (f->options[i].name == name)
            return (int)i;
    return -1;
}

bool gpd_build_model(gpd_doc* doc, std::string* err)
{
    std::vector<const gpd_entry*> features;
    collect_features(doc->root, &features);
    for (const gpd_entry* e : features)
        if (!add_feature(doc, *e, err))
            return false;
    const gpd_entry* model = find_kid(doc->root, "ModelName");
    if (model && !gpd_string(model->value, &doc->model))
        return fail(err, *model, "ModelName is a quoted string");
    return check_commands(doc->root, err) && build_constraints(doc, err);
}
