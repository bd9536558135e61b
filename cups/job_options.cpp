#include "job_options.h"

#include <cups/cups.h>
#include <cups/pwg.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <string>

static bool copy_attr(
    ppd_file_t* ppd, const char* keyword, char* out, size_t outlen, char* err, size_t errlen)
{
    ppd_attr_t* a = ppdFindAttr(ppd, keyword, nullptr);
    if (!a || !a->value || !*a->value) {
        snprintf(err, errlen, "the PPD has no *%s", keyword);
        return false;
    }
    if (strlen(a->value) >= outlen) {
        snprintf(err, errlen, "the PPD's *%s is too long", keyword);
        return false;
    }
    snprintf(out, outlen, "%s", a->value);
    return true;
}

static const char* paper_code_for(ppd_file_t* ppd, const char* size)
{
    ppd_attr_t* a = ppdFindAttr(ppd, PPD_PAPER_CODE_KEYWORD, size);
    return a && a->value ? a->value : nullptr;
}

// The PPD page size the raster was rendered for: the first size with a
// paper code whose dimensions match the page's within a point, else the
// page size marked from the job's options and the PPD's defaults.
static const char* chosen_size(ppd_file_t* ppd, const cups_page_header2_t* h)
{
    for (int i = 0; i < ppd->num_sizes; i++) {
        ppd_size_t* s = &ppd->sizes[i];
        if (fabs(s->width - h->PageSize[0]) <= 1.0 && fabs(s->length - h->PageSize[1]) <= 1.0
            && paper_code_for(ppd, s->name))
            return s->name;
    }
    ppd_choice_t* c = ppdFindMarkedChoice(ppd, "PageSize");
    return c ? c->choice : nullptr;
}

// The code the PPD gives the marked choice of option under keyword, into
// out; "" when the option or its code is missing.  False when the PPD's
// code breaks the rule of the job key it becomes.
static bool marked_code(ppd_file_t* ppd, const char* option, const char* keyword, const char* key,
    char* out, size_t outlen, char* err, size_t errlen)
{
    out[0] = '\0';
    ppd_choice_t* c = ppdFindMarkedChoice(ppd, option);
    ppd_attr_t* a = c ? ppdFindAttr(ppd, keyword, c->choice) : nullptr;
    if (!a || !a->value)
        return true;
    if (strlen(a->value) >= outlen || !job_value_ok(key, a->value)) {
        snprintf(err, errlen, "the PPD's *%s %s is not a valid %s", keyword, c->choice, key);
        return false;
    }
    snprintf(out, outlen, "%s", a->value);
    return true;
}

// The driver's page for the size at the raster's resolution, when the PPD
// has it.
static bool find_area(
    ppd_file_t* ppd, const char* size, const cups_page_header2_t* h, page_area* out)
{
    for (ppd_attr_t* a = ppdFindAttr(ppd, PPD_PAGE_AREA_KEYWORD, size); a;
         a = ppdFindNextAttr(ppd, PPD_PAGE_AREA_KEYWORD, size)) {
        page_area p;
        char end;
        if (!a->value
            || sscanf(a->value, "%ux%u %u %u %u %u %u %u%c", &p.xdpi, &p.ydpi, &p.phys_w, &p.phys_h,
                   &p.off_x, &p.off_y, &p.print_w, &p.print_h, &end)
                != 8)
            continue;
        bool sound = p.print_w > 0 && p.print_h > 0 && p.print_w <= p.phys_w
            && p.print_h <= p.phys_h && p.off_x <= p.phys_w - p.print_w
            && p.off_y <= p.phys_h - p.print_h;
        if (sound && p.xdpi == h->HWResolution[0] && p.ydpi == h->HWResolution[1]) {
            *out = p;
            return true;
        }
    }
    return false;
}

// A Resolution choice's name, "300dpi" or "600x300dpi", as x and y.
static bool choice_resolution(const char* name, unsigned* x, unsigned* y)
{
    char* end;
    unsigned long a = strtoul(name, &end, 10), b = a;
    if (end != name && *end == 'x')
        b = strtoul(end + 1, &end, 10);
    *x = (unsigned)a;
    *y = (unsigned)b;
    return a > 0 && b > 0 && a <= 100000 && b <= 100000 && strcmp(end, "dpi") == 0;
}

// Whether the queue offers the page's resolution: one of the PPD's
// Resolution choices (a PPD without that option offers any).  Otherwise
// the choices go into the message.
static bool resolution_offered(
    ppd_file_t* ppd, const cups_page_header2_t* h, char* err, size_t errlen)
{
    ppd_option_t* o = ppdFindOption(ppd, "Resolution");
    if (!o || o->num_choices == 0)
        return true;
    char offered[160] = "";
    for (int i = 0; i < o->num_choices; i++) {
        unsigned x, y;
        if (choice_resolution(o->choices[i].choice, &x, &y) && x == h->HWResolution[0]
            && y == h->HWResolution[1])
            return true;
        size_t used = strlen(offered);
        snprintf(
            offered + used, sizeof offered - used, "%s%s", i ? ", " : "", o->choices[i].choice);
    }
    snprintf(err, errlen, "the page's resolution %ux%u dpi is not one this queue offers (%s)",
        h->HWResolution[0], h->HWResolution[1], offered);
    return false;
}

// The GPD driver's own choices the job made ("Feature=Option;..."): every
// marked choice the PPD maps to one, or when they do not fit the key, those
// that differ from the PPD's defaults.
static bool gpd_choices(ppd_file_t* ppd, job_info* info, char* err, size_t errlen)
{
    for (int pass = 0; pass < 2; pass++) {
        std::string text;
        for (ppd_attr_t* a = ppdFindAttr(ppd, PPD_GPD_KEYWORD, nullptr); a;
             a = ppdFindNextAttr(ppd, PPD_GPD_KEYWORD, nullptr)) {
            const char* dot = strrchr(a->spec, '.');
            if (!dot || !a->value)
                continue;
            std::string option(a->spec, (size_t)(dot - a->spec));
            ppd_option_t* o = ppdFindOption(ppd, option.c_str());
            ppd_choice_t* c = o ? ppdFindMarkedChoice(ppd, option.c_str()) : nullptr;
            if (!c || strcmp(c->choice, dot + 1) != 0
                || (pass == 1 && strcmp(o->defchoice, c->choice) == 0))
                continue;
            text += (text.empty() ? "" : ";") + std::string(a->value);
        }
        if (text.empty() || job_value_ok("GPDOPTIONS", text.c_str())) {
            snprintf(info->gpdoptions, sizeof info->gpdoptions, "%s", text.c_str());
            return true;
        }
        if (pass == 1 || text.size() <= JOB_VALUE_MAX) {
            snprintf(err, errlen, "the driver's own choices do not make a valid GPDOPTIONS (%s)",
                text.c_str());
            return false;
        }
    }
    return false;
}

static void read_copies(ppd_file_t* ppd, job_info* info)
{
    ppd_attr_t* a = ppdFindAttr(ppd, PPD_DRIVER_COPIES_KEYWORD, nullptr);
    if (!a || !a->value || strcasecmp(a->value, "True") != 0)
        return;
    info->driver_copies = JOB_COPIES_MAX;
    a = ppdFindAttr(ppd, PPD_MAX_COPIES_KEYWORD, nullptr);
    long max = a && a->value ? strtol(a->value, nullptr, 10) : 0;
    if (max >= 1 && max < (long)JOB_COPIES_MAX)
        info->driver_copies = (unsigned)max;
    a = ppdFindAttr(ppd, PPD_DRIVER_COLLATE_KEYWORD, nullptr);
    info->driver_collate = a && a->value && strcasecmp(a->value, "True") == 0;
}

bool job_info_from_ppd(
    ppd_file_t* ppd, const cups_page_header2_t* h, job_info* info, char* err, size_t errlen)
{
    memset(info, 0, sizeof *info);
    if (!copy_attr(ppd, PPD_PACKAGE_KEYWORD, info->package, sizeof info->package, err, errlen)
        || !copy_attr(ppd, PPD_MODEL_KEYWORD, info->model, sizeof info->model, err, errlen))
        return false;
    if (!job_package_name_ok(info->package)) {
        snprintf(err, errlen, "the PPD's package name \"%s\" is not a plain name", info->package);
        return false;
    }
    if (!job_value_ok("MODEL", info->model)) {
        snprintf(err, errlen, "the PPD's printer name has control characters");
        return false;
    }
    if (!resolution_offered(ppd, h, err, errlen))
        return false;
    const char* size = chosen_size(ppd, h);
    if (!size) {
        snprintf(err, errlen, "no page size for a %ux%u pt page", h->PageSize[0], h->PageSize[1]);
        return false;
    }
    snprintf(info->size_name, sizeof info->size_name, "%s", size);
    const char* code = paper_code_for(ppd, size);
    if (!code || !job_value_ok("PAGESIZE", code)) {
        snprintf(err, errlen, "page size %s has no Windows paper code in the PPD", info->size_name);
        return false;
    }
    snprintf(info->pagesize, sizeof info->pagesize, "%s", code);
    snprintf(info->dpi, sizeof info->dpi, "%ux%u", h->HWResolution[0], h->HWResolution[1]);
    info->has_area = find_area(ppd, size, h, &info->area);
    read_copies(ppd, info);
    return marked_code(ppd, "Duplex", PPD_DUPLEX_CODE_KEYWORD, "DUPLEX", info->duplex,
               sizeof info->duplex, err, errlen)
        && marked_code(ppd, "InputSlot", PPD_BIN_CODE_KEYWORD, "INPUTBIN", info->inputbin,
            sizeof info->inputbin, err, errlen)
        && marked_code(ppd, "ColorModel", PPD_COLOR_CODE_KEYWORD, "COLOR", info->color,
            sizeof info->color, err, errlen)
        && marked_code(ppd, "MediaType", PPD_MEDIA_CODE_KEYWORD, "MEDIATYPE", info->mediatype,
            sizeof info->mediatype, err, errlen)
        && gpd_choices(ppd, info, err, errlen);
}

// Length of the character at s (n bytes left) when the document name may
// hold it, else 0; the block's own rule decides.
static size_t title_char(const char* s, size_t n)
{
    char one[5];
    for (size_t len = 1; len <= 4 && len <= n; len++) {
        memcpy(one, s, len);
        one[len] = '\0';
        if (job_value_ok("DOCNAME", one))
            return len;
    }
    return 0;
}

void job_info_set_title(job_info* info, const char* title)
{
    size_t n = strlen(title), out = 0;
    for (size_t i = 0; i < n;) {
        size_t len = title_char(title + i, n - i);
        if (out + (len ? len : 1) > JOB_VALUE_MAX)
            break;
        if (len)
            memcpy(info->docname + out, title + i, len);
        else
            info->docname[out] = '?';
        out += len ? len : 1;
        i += len ? len : 1;
    }
    info->docname[out] = '\0';
}

unsigned job_info_max_copies(const job_info* info)
{
    return info->driver_copies ? info->driver_copies : JOB_COPIES_MAX;
}

bool job_info_set_copies(job_info* info, unsigned copies, bool collate)
{
    info->copies[0] = info->collate[0] = '\0';
    if (copies <= 1)
        return true;
    if (copies > info->driver_copies || (collate && !info->driver_collate))
        return false;
    snprintf(info->copies, sizeof info->copies, "%u", copies);
    if (info->driver_collate)
        snprintf(info->collate, sizeof info->collate, "%d", collate ? 1 : 0);
    return true;
}

size_t job_info_entries(
    const job_info* info, char storage[JOB_ENTRIES_MAX][JOB_ENTRY_MAX], const char* entries[])
{
    const struct {
        const char* key;
        const char* value;
    } all[JOB_ENTRIES_MAX] = {{"PACKAGENAME", info->package}, {"MODEL", info->model},
        {"PAGESIZE", info->pagesize}, {"DPI", info->dpi}, {"DUPLEX", info->duplex},
        {"INPUTBIN", info->inputbin}, {"COLOR", info->color}, {"MEDIATYPE", info->mediatype},
        {"COPIES", info->copies}, {"COLLATE", info->collate}, {"DOCNAME", info->docname},
        {"GPDOPTIONS", info->gpdoptions}};
    size_t n = 0;
    for (size_t i = 0; i < JOB_ENTRIES_MAX; i++) {
        // The first four always go; the others only when the job chose them.
        if (i >= 4 && !all[i].value[0])
            continue;
        snprintf(storage[n], JOB_ENTRY_MAX, "%s=%s", all[i].key, all[i].value);
        entries[n] = storage[n];
        n++;
    }
    return n;
}

// The paper's size in points when name is one CUPS knows (a PWG, PPD or
// legacy name).
static bool known_paper(const char* name, double* w, double* h)
{
    pwg_media_t* m = pwgMediaForPWG(name);
    if (!m)
        m = pwgMediaForPPD(name);
    if (!m)
        m = pwgMediaForLegacy(name);
    if (!m || m->width <= 0 || m->length <= 0)
        return false;
    *w = m->width * 72.0 / 2540.0;
    *h = m->length * 72.0 / 2540.0;
    return true;
}

// Whether the queue has a page size of that name or, for a paper CUPS
// knows, of that size; true for names that are no paper at all (a tray or
// a media type in media=).
static bool paper_offered(ppd_file_t* ppd, const char* name)
{
    if (ppdPageSize(ppd, name))
        return true;
    double w, h;
    if (!known_paper(name, &w, &h))
        return true;
    for (int i = 0; i < ppd->num_sizes; i++)
        if (fabs(ppd->sizes[i].width - w) <= 1.0 && fabs(ppd->sizes[i].length - h) <= 1.0)
            return true;
    return false;
}

// The first paper of a comma-separated list the queue lacks, into out.
static bool list_lacks(ppd_file_t* ppd, const char* list, char* out, size_t outlen)
{
    char name[64];
    for (const char* p = list; *p;) {
        size_t n = strcspn(p, ",");
        if (n > 0 && n < sizeof name) {
            memcpy(name, p, n);
            name[n] = '\0';
            if (!paper_offered(ppd, name)) {
                snprintf(out, outlen, "%s", name);
                return true;
            }
        }
        p += n + (p[n] == ',');
    }
    return false;
}

bool job_paper_not_offered(ppd_file_t* ppd, const char* options, char* asked, size_t len)
{
    cups_option_t* opts = nullptr;
    int n = cupsParseOptions(options, 0, &opts);
    static const char* const keys[] = {"PageSize", "PageRegion", "media"};
    bool lacks = false;
    for (const char* key : keys) {
        const char* v = cupsGetOption(key, n, opts);
        if (v && (lacks = list_lacks(ppd, v, asked, len)))
            break;
    }
    cupsFreeOptions(n, opts);
    return lacks;
}
