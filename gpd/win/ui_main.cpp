// tessal-unidrvui.dll's entry point, the spooler's events and checks, and
// the option listing strelwick's caps mode reads.
#include "ui.h"
#include "unidrv_map.h"
#include "winddiui_more.h"

#include <winspool.h>

#include <stdlib.h>
#include <string.h>

// The kept driver's plug-ins stay loaded until the process ends: unloading
// a DLL from DllMain, under the loader's lock, is not allowed.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        UiInitLock();
    return TRUE;
}

// A printer's device mode is checked when the job is made: one whose
// options break the driver's constraints is still printed, with them
// resolved, so nothing is refused here.
extern "C" __declspec(dllexport) BOOL WINAPI DevQueryPrintEx(DEVQUERYPRINT_INFO*)
{
    return TRUE;
}

extern "C" __declspec(dllexport) BOOL WINAPI DrvPrinterEvent(LPWSTR, INT, DWORD, LPARAM)
{
    return TRUE;
}

extern "C" __declspec(dllexport) BOOL WINAPI DrvDriverEvent(DWORD, DWORD, LPBYTE, LPARAM)
{
    return TRUE;
}

extern "C" __declspec(dllexport) BOOL WINAPI DrvUpgradePrinter(DWORD, LPBYTE)
{
    return TRUE;
}

// The printer's default device mode (level 2), or NULL; free() it.
static DEVMODEW* PrinterDefaults(HANDLE printer)
{
    DWORD needed = 0;
    GetPrinterW(printer, 2, NULL, 0, &needed);
    if (!needed || needed > (1u << 20))
        return NULL;
    PRINTER_INFO_2W* info = (PRINTER_INFO_2W*)calloc(1, needed);
    DEVMODEW* dm = NULL;
    if (info && GetPrinterW(printer, 2, (BYTE*)info, needed, &needed) && info->pDevMode
        && info->pDevMode->dmSize <= 4096) {
        size_t size = (size_t)info->pDevMode->dmSize + info->pDevMode->dmDriverExtra;
        dm = (DEVMODEW*)malloc(size);
        if (dm)
            memcpy(dm, info->pDevMode, size);
    }
    free(info);
    return dm;
}

// Tabs and line ends would break the listing's lines.
static std::wstring Field(const std::string& s)
{
    std::wstring w = UiWide(s);
    for (WCHAR& c : w)
        if (c == L'\t' || c == L'\n' || c == L'\r')
            c = L' ';
    return w;
}

static std::wstring Listing(const UiDriver* d, const gpd_config* c)
{
    std::wstring text;
    for (size_t fi = 0; fi < d->doc.features.size(); fi++) {
        const gpd_feature& f = d->doc.features[fi];
        text += L"FEATURE\t" + Field(f.name) + L"\t" + Field(f.options[c->choice[fi]].name) + L"\t"
            + Field(f.display) + L"\n";
        for (const gpd_option& o : f.options)
            text += L"OPTION\t" + Field(f.name) + L"\t" + Field(o.name) + L"\t" + Field(o.display)
                + L"\n";
    }
    return text;
}

// Every GPD feature with its options, display names and the printer's
// default, one tab-separated line each:
//   FEATURE <tab> name <tab> default option <tab> display name
//   OPTION <tab> feature <tab> name <tab> display name
// Returns the characters needed, NUL included (0 on failure); writes
// them when chars is enough.
extern "C" __declspec(dllexport) DWORD WINAPI TessalGpdOptions(HANDLE printer, WCHAR* out, DWORD chars)
{
    UiLock();
    UiDriver* d = UiDriverOf(printer);
    std::wstring text;
    if (d) {
        DEVMODEW* dm = PrinterDefaults(printer);
        gpd_config c;
        std::string err;
        if (UnidrvConfigFromDm(&d->doc, dm, &c, &err))
            text = Listing(d, &c);
        else
            UiLog("%s", err.c_str());
        free(dm);
    }
    UiUnlock();
    if (text.empty())
        return 0;
    DWORD needed = (DWORD)text.size() + 1;
    if (out && chars >= needed)
        memcpy(out, text.c_str(), needed * sizeof(WCHAR));
    return needed;
}
