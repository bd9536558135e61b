// What the print tool's driver host offers a rendering DLL that asks for it:
// our own core exports TessalUseHost, and the host calls it (after binding
// the DLL's imports, before DrvEnableDriver) with these calls, so that the
// core can load a minidriver's plug-ins the way the host loads any printer
// graphics DLL: their GDI32 engine imports bound to the host's engine.
#pragma once

#include <windows.h>

struct TessalHostCalls {
    DWORD size; // sizeof(TessalHostCalls)
    // Maps the DLL at path, binds its imports (engine names to the host's
    // engine) and runs its entry point.  NULL after logging why.
    HMODULE(WINAPI* load)(const WCHAR* path);
    // Detaches and unloads a DLL that load returned.
    void(WINAPI* unload)(HMODULE mod);
    // Writes one line to the print tool's log (stderr).
    void(WINAPI* log)(const char* line);
};

typedef BOOL(WINAPI* PFN_TessalUseHost)(const TessalHostCalls* calls);
