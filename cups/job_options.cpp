#include "job_options.h"

#include <math.h>
#include <stdio.h>
#include <string.h>

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
    if (!job_value_ok("MODEL", info->model)) {
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
    if (!code || !job_value_ok("PAGESIZE", code)) {
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
