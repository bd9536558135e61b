#include "caps_listing.h"
#include "ppd_gen.h"

#include <stdlib.h>
#include <string.h>

// Parses a decimal number from 0 to max at *s, moving *s past it.
static bool take_uint(const char** s, unsigned max, unsigned* out)
{
    const char* p = *s;
    unsigned long v = 0;
    if (*p < '0' || *p > '9')
        return false;
    for (; *p >= '0' && *p <= '9'; p++) {
        v = v * 10 + (unsigned long)(*p - '0');
        if (v > max)
            return false;
    }
    *s = p;
    *out = (unsigned)v;
    return true;
}

static bool take_char(const char** s, char c)
{
    if (**s != c)
        return false;
    (*s)++;
    return true;
}

// "<x>x<y>", each a plausible resolution.
static bool take_resolution(const char** s, caps_resolution* r)
{
    return take_uint(s, 9600, &r->x) && take_char(s, 'x') && take_uint(s, 9600, &r->y) && r->x >= 50
        && r->y >= 50;
}

// A name as the print tool writes it, at most max bytes: text the PPD can
// hold.
static bool take_text(const char* s, char* out, size_t max)
{
    if (!ppd_plain_text(s, max))
        return false;
    memcpy(out, s, strlen(s) + 1);
    return true;
}

static bool take_name(const char* s, char* out)
{
    return take_text(s, out, CAPS_NAME_MAX);
}

static bool parse_paper(const char* v, caps_listing* l)
{
    if (l->num_papers == CAPS_MAX_PAPERS)
        return false;
    caps_paper* p = &l->papers[l->num_papers];
    if (!take_uint(&v, 32767, &p->code) || p->code == 0 || !take_char(&v, ',')
        || !take_uint(&v, 100000, &p->width) || !take_char(&v, ',')
        || !take_uint(&v, 100000, &p->length) || !take_char(&v, ',') || !take_name(v, p->name)
        || p->width == 0 || p->length == 0)
        return false;
    l->num_papers++;
    return true;
}

static bool parse_page(const char* v, caps_listing* l)
{
    if (l->num_pages == CAPS_MAX_PAGES)
        return false;
    caps_page* p = &l->pages[l->num_pages];
    caps_resolution r;
    unsigned* px[] = {&p->phys_w, &p->phys_h, &p->off_x, &p->off_y, &p->print_w, &p->print_h};
    if (!take_uint(&v, 32767, &p->code) || !take_char(&v, ',') || !take_resolution(&v, &r))
        return false;
    for (unsigned* f : px)
        if (!take_char(&v, ',') || !take_uint(&v, 1000000, f))
            return false;
    p->xdpi = r.x;
    p->ydpi = r.y;
    bool inside = p->print_w > 0 && p->print_h > 0 && p->off_x + p->print_w <= p->phys_w
        && p->off_y + p->print_h <= p->phys_h;
    if (*v || !inside)
        return false;
    l->num_pages++;
    return true;
}

static bool parse_choice(const char* v, caps_choice* list, int* count)
{
    if (*count == CAPS_MAX_CHOICES)
        return false;
    caps_choice* c = &list[*count];
    if (!take_uint(&v, 32767, &c->code) || c->code == 0 || !take_char(&v, ',')
        || !take_name(v, c->name))
        return false;
    (*count)++;
    return true;
}

static bool parse_flag(const char* v, bool* out)
{
    if ((v[0] != '0' && v[0] != '1') || v[1])
        return false;
    *out = v[0] == '1';
    return true;
}

static bool parse_whole_uint(const char* v, unsigned max, unsigned* out)
{
    return take_uint(&v, max, out) && !*v;
}

// A GPD symbol as the listing carries it: 1 to CAPS_NAME_MAX letters,
// digits, '_', '.' or '-', up to the next ','.
static bool take_symbol(const char** s, char* out)
{
    size_t n = 0;
    for (const char* p = *s; *p && *p != ','; p++, n++) {
        char c = *p;
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
            || c == '_' || c == '.' || c == '-';
        if (!ok || n == CAPS_NAME_MAX)
            return false;
        out[n] = c;
    }
    out[n] = '\0';
    *s += n;
    return n > 0;
}

static bool parse_feature(const char* v, caps_listing* l)
{
    l->features_dropped = l->num_features == CAPS_MAX_FEATURES;
    if (l->features_dropped)
        return true;
    caps_feature* f = &l->features[l->num_features];
    memset(f, 0, sizeof *f);
    if (!take_symbol(&v, f->name) || !take_char(&v, ',') || !take_symbol(&v, f->default_option)
        || !take_char(&v, ',') || !take_name(v, f->text))
        return false;
    for (int i = 0; i < l->num_features; i++)
        if (strcmp(l->features[i].name, f->name) == 0)
            return false;
    l->num_features++;
    return true;
}

static bool parse_option(const char* v, caps_listing* l)
{
    char feature[CAPS_NAME_MAX + 1];
    if (l->features_dropped)
        return true;
    if (l->num_features == 0 || !take_symbol(&v, feature) || !take_char(&v, ','))
        return false;
    caps_feature* f = &l->features[l->num_features - 1];
    if (strcmp(f->name, feature) != 0)
        return false;
    f->overflow |= f->num_options == CAPS_MAX_FEATURE_OPTIONS;
    if (f->overflow)
        return true;
    caps_feature_option* o = &f->options[f->num_options];
    if (!take_symbol(&v, o->name) || !take_char(&v, ',') || !take_name(v, o->text))
        return false;
    for (int i = 0; i < f->num_options; i++)
        if (strcmp(f->options[i].name, o->name) == 0)
            return false;
    f->num_options++;
    return true;
}

// Each feature lists its default among its options.
static const char* check_features(const caps_listing* l, char* err, size_t errlen)
{
    for (int i = 0; i < l->num_features; i++) {
        const caps_feature* f = &l->features[i];
        bool found = f->overflow;
        for (int k = 0; k < f->num_options; k++)
            found |= strcmp(f->options[k].name, f->default_option) == 0;
        if (!found) {
            snprintf(err, errlen, "the feature %s lists no option %s", f->name, f->default_option);
            return err;
        }
    }
    return nullptr;
}

static bool parse_line(const char* key, const char* v, caps_listing* l)
{
    if (strcmp(key, "FEATURE") == 0)
        return parse_feature(v, l);
    if (strcmp(key, "OPTION") == 0)
        return parse_option(v, l);
    if (strcmp(key, "PRINTER") == 0)
        return take_text(v, l->printer, sizeof l->printer - 1);
    if (strcmp(key, "DRIVER") == 0)
        return take_name(v, l->driver);
    if (strcmp(key, "FIELDS") == 0) {
        char* end;
        l->fields = strtoul(v, &end, 16);
        return strncmp(v, "0x", 2) == 0 && end > v + 2 && !*end;
    }
    if (strcmp(key, "DEFAULT_PAPER") == 0)
        return parse_whole_uint(v, 32767, &l->default_paper);
    if (strcmp(key, "DEFAULT_RESOLUTION") == 0)
        return take_resolution(&v, &l->default_resolution) && !*v;
    if (strcmp(key, "PAPER") == 0)
        return parse_paper(v, l);
    if (strcmp(key, "RESOLUTION") == 0) {
        caps_resolution r;
        if (l->num_resolutions == CAPS_MAX_RESOLUTIONS || !take_resolution(&v, &r) || *v)
            return false;
        l->resolutions[l->num_resolutions++] = r;
        return true;
    }
    if (strcmp(key, "PAGE") == 0)
        return parse_page(v, l);
    if (strcmp(key, "BIN") == 0)
        return parse_choice(v, l->bins, &l->num_bins);
    if (strcmp(key, "MEDIATYPE") == 0)
        return parse_choice(v, l->media, &l->num_media);
    if (strcmp(key, "COLOR") == 0)
        return parse_flag(v, &l->color);
    if (strcmp(key, "DUPLEX") == 0)
        return parse_flag(v, &l->duplex);
    if (strcmp(key, "COLLATE") == 0)
        return parse_flag(v, &l->collate);
    if (strcmp(key, "COPIES") == 0)
        return parse_whole_uint(v, 32767, &l->copies);
    return true;
}

const char* caps_read(FILE* f, caps_listing* l, char* err, size_t errlen)
{
    memset(l, 0, sizeof *l);
    char line[512];
    for (int n = 1; fgets(line, sizeof line, f); n++) {
        size_t len = strlen(line);
        if (len == sizeof line - 1 && line[len - 1] != '\n') {
            snprintf(err, errlen, "line %d is too long", n);
            return err;
        }
        if (len && line[len - 1] == '\n')
            line[--len] = '\0';
        char* eq = strchr(line, '=');
        if (!eq) {
            snprintf(err, errlen, "line %d is not KEY=VALUE", n);
            return err;
        }
        *eq = '\0';
        if (!parse_line(line, eq + 1, l)) {
            snprintf(err, errlen, "line %d (%s) has a value that cannot be used", n, line);
            return err;
        }
    }
    if (ferror(f)) {
        snprintf(err, errlen, "read error");
        return err;
    }
    if (!l->printer[0] || l->num_papers == 0) {
        snprintf(err, errlen, "the listing names no printer or no paper");
        return err;
    }
    if (l->num_resolutions == 0 && l->default_resolution.x) {
        l->resolutions[0] = l->default_resolution;
        l->num_resolutions = 1;
    }
    if (l->num_resolutions == 0) {
        snprintf(err, errlen, "the listing names no resolution");
        return err;
    }
    return check_features(l, err, errlen);
}

const caps_page* caps_find_page(const caps_listing* l, unsigned code, unsigned xdpi, unsigned ydpi)
{
    for (int i = 0; i < l->num_pages; i++) {
        const caps_page* p = &l->pages[i];
        if (p->code == code && p->xdpi == xdpi && p->ydpi == ydpi)
            return p;
    }
    return nullptr;
}
