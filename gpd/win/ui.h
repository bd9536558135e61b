// tessal-unidrvui.dll, the configuration DLL of our core: what its parts
// share.  Winspool loads it inside Wine for DocumentProperties and
// DeviceCapabilities on a printer whose driver is a GPD minidriver.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "gpd_config.h"
#include "oem_iface.h"

// One plug-in of the driver's .ini (OEMDriverFileN + OEMConfigFileN); the
// UI side is loaded when the plug-in has one.
struct UiPlugin {
    std::wstring config; // the UI DLL's path, "" when none
    HMODULE module = NULL;
    TessalOemUI* ui = NULL; // NULL when it has no UI side or did not load
    DWORD size = sizeof(OEM_DMEXTRAHEADER); // its private part, header included
    DWORD signature = 0; // from GetInfo, 0 when it gives none
};

// A printer's driver: its GPD read and its plug-ins.
struct UiDriver {
    std::wstring dataFile;
    std::string gpdName; // the GPD's path, for messages
    gpd_doc doc;
    std::vector<UiPlugin> plugins;
    long maxCopies = 1;
};

// Every export holds this while it works: winspool may call from several
// threads, and the cached driver is shared.
void UiInitLock();
void UiLock();
void UiUnlock();

// The driver of printer, read once and kept while the printer's data file
// stays the same.  NULL with a message on stderr when it cannot be read.
UiDriver* UiDriverOf(HANDLE printer);

// Loads the plug-ins named in the .ini among the dependent files
// (multi-string of paths), in the .ini's order.  False with a message when
// the .ini names a file the driver does not carry.
bool UiLoadPlugins(UiDriver* d, const WCHAR* dependent, HANDLE printer);
void UiFreePlugins(UiDriver* d);

// Writes plug-in i's private part for the public part pub into out (room
// for plugins[i].size) and returns its size: the plug-in's defaults, then
// what it keeps of in (a part from an earlier device mode, may be NULL).
// A plug-in without a UI side, or that fails, gets a bare header.
DWORD UiPluginPart(UiDriver* d, DWORD i, HANDLE printer, DEVMODEW* pub, const void* in,
    DWORD inSize, void* out);

// The size of our device mode for d.
DWORD UiDevModeSize(const UiDriver* d);

// Builds the device mode of d into out (UiDevModeSize bytes): defaults,
// then what `in` has (its public fields, options and plug-in parts).
bool UiBuildDevMode(UiDriver* d, HANDLE printer, const WCHAR* name, const DEVMODEW* in,
    DEVMODEW* out);

void UiLog(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Text in the ANSI code page as a wide string.
std::wstring UiWide(const std::string& s);
