// DeviceCapabilities that a printer's own configuration DLL can answer.
// Wine's DeviceCapabilities calls the DLL's DrvDeviceCapabilities without a
// usable printer handle, and a DLL that reads the printer through it (as
// real ones do) fails. For a printer with its own driver, the DLL is called
// here with a handle from OpenPrinter, as the driver host already does for
// the device mode; Wine's PostScript printers still go through Wine.
#include <stdlib.h>
#include <string.h>

#include "driver_host.h"
#include "strelwick.h"

typedef DWORD(WINAPI* DeviceCapsFn)(HANDLE, LPWSTR, WORD, void*, DEVMODEW*);

// The configuration DLL of the printer last asked, kept for the process:
// caps and the job options ask many questions in a row.
static struct {
    char printer[256];
    int own; // the printer has its own driver whose DLL exports the call
    HANDLE handle;
    HMODULE config;
    DeviceCapsFn fn;
    WCHAR name[256];
} g_caps;

static int UseOwnDriver(const char* printer)
{
    if (g_caps.printer[0] && strcmp(g_caps.printer, printer) == 0)
        return g_caps.own;
    if (g_caps.handle)
        ClosePrinter(g_caps.handle);
    if (g_caps.config)
        FreeLibrary(g_caps.config);
    memset(&g_caps, 0, sizeof(g_caps));
    lstrcpynA(g_caps.printer, printer, sizeof(g_caps.printer));
    DRIVER_INFO_3A* info = NULL;
    if (!FindOwnDriver(printer, &info))
        return 0;
    const char* config = info->pConfigFile && info->pConfigFile[0] ? info->pConfigFile : NULL;
    if (config && DllExports(config, "DrvDeviceCapabilities")
        && OpenPrinterA((LPSTR)printer, &g_caps.handle, NULL)) {
        g_caps.config = LoadLibraryA(config);
        g_caps.fn = g_caps.config
            ? (DeviceCapsFn)(void*)GetProcAddress(g_caps.config, "DrvDeviceCapabilities")
            : NULL;
    }
    free(info);
    g_caps.own = g_caps.fn != NULL;
    MultiByteToWideChar(CP_ACP, 0, printer, -1, g_caps.name, 256);
    return g_caps.own;
}

static int Result(DWORD v)
{
    return v == GDI_ERROR || v > 0x7FFFFFFF ? -1 : (int)v;
}

int PrinterCapabilitiesW(const char* printer, WORD cap, void* out)
{
    if (!UseOwnDriver(printer)) {
        WCHAR name[256];
        MultiByteToWideChar(CP_ACP, 0, printer, -1, name, 256);
        return DeviceCapabilitiesW(name, NULL, cap, (LPWSTR)out, NULL);
    }
    DriverCallBegin("DrvDeviceCapabilities");
    int n = Result(g_caps.fn(g_caps.handle, g_caps.name, cap, out, NULL));
    DriverCallEnd();
    return n;
}

typedef DWORD(WINAPI* GpdOptionsFn)(HANDLE, WCHAR*, DWORD);

WCHAR* PrinterGpdOptions(const char* printer)
{
    if (!UseOwnDriver(printer))
        return NULL;
    GpdOptionsFn fn = (GpdOptionsFn)(void*)GetProcAddress(g_caps.config, "TessalGpdOptions");
    if (!fn)
        return NULL;
    DriverCallBegin("TessalGpdOptions");
    DWORD n = fn(g_caps.handle, NULL, 0);
    // A listing of a few hundred features at most; more is not trusted.
    WCHAR* text = n && n <= (1u << 20) ? (WCHAR*)calloc(n, sizeof(WCHAR)) : NULL;
    if (text && fn(g_caps.handle, text, n) != n) {
        free(text);
        text = NULL;
    }
    DriverCallEnd();
    if (text)
        text[n - 1] = 0;
    return text;
}

// Characters of each name in the name lists.
static int NameChars(WORD cap)
{
    switch (cap) {
    case DC_PAPERNAMES:
    case DC_MEDIATYPENAMES:
    case DC_FILEDEPENDENCIES:
        return 64;
    case DC_BINNAMES:
        return 24;
    case DC_PERSONALITY:
        return 32;
    }
    return 0;
}

int PrinterCapabilitiesA(const char* printer, WORD cap, void* out)
{
    if (!UseOwnDriver(printer))
        return DeviceCapabilitiesA(printer, NULL, cap, (LPSTR)out, NULL);
    int chars = NameChars(cap);
    if (!chars || !out)
        return PrinterCapabilitiesW(printer, cap, out);
    int n = PrinterCapabilitiesW(printer, cap, NULL);
    if (n <= 0 || n > 4096)
        return n > 0 ? -1 : n;
    WCHAR* wide = (WCHAR*)calloc((size_t)n, (size_t)chars * sizeof(WCHAR));
    int got = wide ? PrinterCapabilitiesW(printer, cap, wide) : -1;
    for (int i = 0; i < got && i < n; i++) {
        char* name = (char*)out + (size_t)i * chars;
        WideCharToMultiByte(CP_ACP, 0, wide + (size_t)i * chars, chars, name, chars, NULL, NULL);
        name[chars - 1] = 0;
    }
    free(wide);
    return got;
}
