#include "job_options.h"

#include <math.h>
#include <stdio.h>
#include <string.h>

bool job_package_name_ok(const char* name)
{
    size_t n = strlen(name);
    if (n == 0 || strcmp(name, ".") == 0 || strcmp(name, "..") == 0)
        return false;
    for (size_t i = 0; i < n; i++) {
        char c = name[i];
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
            || c == '.' || c == '_' || c == '-';
        if (!ok)
            return false;
    }
    return true;
}

// A printer name travels as an environment string: printable, no '\0'.
static bool model_name_ok(const char* name)
{
    if (!*name)
        return false;
    for (const unsigned char* p = (const unsigned char*)name; *p; p++)
        if (*p < 0x20 || *p == 0x7f)
            return false;
    return true;
}

// A Windows paper code: a decimal number from 1 to 32767.
static bool paper_code_ok(const char* code)
{
    size_t n = strlen(code);
    if (n == 0 || n > 5)
        return false;
    long v = 0;
    for (size_t i = 0; i < n; i++) {
        if (code[i] < '0' || code[i] > '9')
            return false;
        v = v * 10 + (code[i] - '0');
    }
    return v >= 1 && v <= 32767;
}

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
    if (!model_name_ok(info->model)) {
        snprintf(err, errlen, "the PPD's printer name has control characters");
        return false;
    }
    const char* size = chosen_size(ppd, h);
    if (!size) {
        snprintf(err, errlen, "no page size for a %ux%u pt page", h->PageSize[0], h->PageSize[1]);
        return false;
    }
    snprintf(info->size_name, sizeof info->size_name, "%s", size);
    const char* code = paper_code_for(ppd, size);
    if (!code || !paper_code_ok(code)) {
        snprintf(err, errlen, "page size %s has no Windows paper code in the PPD", info->size_name);
        return false;
    }
    snprintf(info->pagesize, sizeof info->pagesize, "%s", code);
    snprintf(info->dpi, sizeof info->dpi, "%ux%u", h->HWResolution[0], h->HWResolution[1]);
    return true;
}

size_t job_info_entries(const job_info* info, char storage[][JOB_ENTRY_MAX], const char* entries[])
{
    snprintf(storage[0], JOB_ENTRY_MAX, "PACKAGENAME=%s", info->package);
    snprintf(storage[1], JOB_ENTRY_MAX, "MODEL=%s", info->model);
    snprintf(storage[2], JOB_ENTRY_MAX, "PAGESIZE=%s", info->pagesize);
    snprintf(storage[3], JOB_ENTRY_MAX, "DPI=%s", info->dpi);
    for (size_t i = 0; i < 4; i++)
        entries[i] = storage[i];
    return 4;
}
