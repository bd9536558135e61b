// Finding a printer's GPD and plug-ins through its driver's files, and
// keeping what was read for the next call.
#include "ui.h"
#include "gpd_value.h"

#include <winspool.h>

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

static CRITICAL_SECTION g_lock;
static UiDriver* g_driver; // the last driver read
static std::wstring g_key; // its data file and dependent files
static FILETIME g_stamp; // the data file's time when it was read

void UiInitLock()
{
    InitializeCriticalSection(&g_lock);
}

void UiLock()
{
    EnterCriticalSection(&g_lock);
}

void UiUnlock()
{
    LeaveCriticalSection(&g_lock);
}

void UiLog(const char* fmt, ...)
{
    char line[1024];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    fprintf(stderr, "tessal-unidrvui: %s\n", line);
}

std::wstring UiWide(const std::string& s)
{
    int n = MultiByteToWideChar(CP_ACP, 0, s.c_str(), (int)s.size(), NULL, 0);
    std::wstring w(n > 0 ? n : 0, L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_ACP, 0, s.c_str(), (int)s.size(), &w[0], n);
    return w;
}

static std::string Narrow(const WCHAR* w)
{
    int n = WideCharToMultiByte(CP_ACP, 0, w, -1, NULL, 0, NULL, NULL);
    std::string s(n > 0 ? n : 1, '\0');
    if (n > 0)
        WideCharToMultiByte(CP_ACP, 0, w, -1, &s[0], n, NULL, NULL);
    s.resize(strlen(s.c_str()));
    return s;
}

// The driver's files (level 3) in a fresh block; NULL when the handle
// names no printer.
static DRIVER_INFO_3W* DriverFiles(HANDLE printer)
{
    DWORD needed = 0;
    GetPrinterDriverW(printer, NULL, 3, NULL, 0, &needed);
    if (!needed || needed > (1u << 20))
        return NULL;
    DRIVER_INFO_3W* info = (DRIVER_INFO_3W*)calloc(1, needed);
    if (info && !GetPrinterDriverW(printer, NULL, 3, (BYTE*)info, needed, &needed)) {
        free(info);
        return NULL;
    }
    return info;
}

static std::wstring MultiString(const WCHAR* m)
{
    std::wstring out;
    for (const WCHAR* p = m; p && *p; p += wcslen(p) + 1)
        out.append(p).push_back(L'|');
    return out;
}

static bool Stamp(const WCHAR* path, FILETIME* t)
{
    WIN32_FILE_ATTRIBUTE_DATA a;
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &a))
        return false;
    *t = a.ftLastWriteTime;
    return true;
}

static void Drop()
{
    if (g_driver)
        UiFreePlugins(g_driver);
    delete g_driver;
    g_driver = NULL;
    g_key.clear();
}

static UiDriver* Read(const DRIVER_INFO_3W* info, HANDLE printer)
{
    UiDriver* d = new UiDriver;
    d->dataFile = info->pDataFile;
    std::string path = Narrow(info->pDataFile), err;
    d->gpdName = path;
    if (!gpd_load(path.c_str(), &d->doc, &err)) {
        UiLog("cannot read the driver's GPD: %s", err.c_str());
        delete d;
        return NULL;
    }
    for (const gpd_entry& e : d->doc.root) {
        long n;
        if (e.key == "MaxCopies" && gpd_int(e.value, &n) && n >= 1)
            d->maxCopies = n > 9999 ? 9999 : n;
    }
    if (!UiLoadPlugins(d, info->pDependentFiles, printer)) {
        UiFreePlugins(d);
        delete d;
        return NULL;
    }
    return d;
}

UiDriver* UiDriverOf(HANDLE printer)
{
    DRIVER_INFO_3W* info = printer ? DriverFiles(printer) : NULL;
    if (!info || !info->pDataFile || !info->pDataFile[0]) {
        UiLog("no driver files for the printer handle %p", printer);
        free(info);
        return NULL;
    }
    std::wstring key = std::wstring(info->pDataFile) + L"|" + MultiString(info->pDependentFiles);
    FILETIME stamp = {0, 0};
    Stamp(info->pDataFile, &stamp);
    if (g_driver && key == g_key && CompareFileTime(&stamp, &g_stamp) == 0) {
        free(info);
        return g_driver;
    }
    Drop();
    g_driver = Read(info, printer);
    if (g_driver) {
        g_key = key;
        g_stamp = stamp;
    }
    free(info);
    return g_driver;
}
