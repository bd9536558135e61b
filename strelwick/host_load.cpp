// Loading a printer's rendering DLL into the print tool: mapped without
// running any of its code, its imports bound by hand (the engine callbacks
// to ours, everything else as the loader would), then its entry point.
#include "driver_host.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "pe_imports.h"
#include "print_output.h"
#include "strelwick.h"
#include "tessal_host.h"

// What binding found: the names it could not bind, for one message.
struct BindState {
    int bind; // 0: only collect what is missing; 1: write the slots
    char missing[2048];
    size_t used;
    int count;
};

static void NoteMissing(BindState* st, const char* dll, const char* name, WORD ordinal)
{
    char item[160];
    if (name)
        snprintf(item, sizeof(item), "%s%s!%s", st->count ? ", " : "", dll, name);
    else
        snprintf(item, sizeof(item), "%s%s!#%u", st->count ? ", " : "", dll, (unsigned)ordinal);
    size_t n = strlen(item);
    if (st->used + n + 4 < sizeof(st->missing)) {
        memcpy(st->missing + st->used, item, n + 1);
        st->used += n;
    } else if (st->used + 4 < sizeof(st->missing)) {
        memcpy(st->missing + st->used, "...", 4);
        st->used += 3;
    }
    st->count++;
}

static void* Resolve(const ImportSlot* imp, int* engine)
{
    *engine = 0;
    if (_stricmp(imp->dll, "gdi32.dll") == 0 && imp->name && IsEngineName(imp->name)) {
        *engine = 1;
        return FindEngineCallback(imp->name);
    }
    if (void* streamed = StreamedImport(imp->dll, imp->name))
        return streamed;
    HMODULE dep = LoadLibraryA(imp->dll);
    if (!dep)
        return NULL;
    return (void*)GetProcAddress(dep, imp->name ? imp->name : MAKEINTRESOURCEA(imp->ordinal));
}

static int BindOne(void* ctx, const ImportSlot* imp)
{
    BindState* st = (BindState*)ctx;
    int engine = 0;
    void* fn = Resolve(imp, &engine);
    if (!fn) {
        NoteMissing(st, imp->dll, imp->name, imp->ordinal);
        return 1;
    }
    if (st->bind && !WriteImportSlot(imp->slot, fn)) {
        NoteMissing(st, imp->dll, imp->name, imp->ordinal);
        return 0;
    }
    return 1;
}

// Maps the DLL and checks that every import can be bound. Returns the
// mapped module, or NULL after logging why not.
static HMODULE MapAndCheck(const char* path)
{
    HMODULE mod = LoadLibraryExA(path, NULL, DONT_RESOLVE_DLL_REFERENCES);
    if (!mod) {
        dbg_log("driver: cannot load the rendering DLL %s: error %d\n", path, LastError());
        return NULL;
    }
    BindState st;
    memset(&st, 0, sizeof(st));
    if (!ForEachImport(mod, BindOne, &st)) {
        dbg_log("driver: %s is not a valid DLL image\n", path);
        FreeLibrary(mod);
        return NULL;
    }
    if (st.count) {
        dbg_log("driver: refusing %s: it imports %d function%s this host does not provide: %s\n",
            path, st.count, st.count == 1 ? "" : "s", st.missing);
        FreeLibrary(mod);
        return NULL;
    }
    return mod;
}

int CheckRenderingDll(const char* path)
{
    HMODULE mod = MapAndCheck(path);
    if (mod)
        FreeLibrary(mod);
    return mod != NULL;
}

int LoadRenderingDll(const char* path, LoadedDriver* drv)
{
    memset(drv, 0, sizeof(*drv));
    // First only look, so that a refused driver's slots stay untouched.
    HMODULE mod = MapAndCheck(path);
    if (!mod)
        return 0;
    BindState st;
    memset(&st, 0, sizeof(st));
    st.bind = 1;
    if (!ForEachImport(mod, BindOne, &st) || st.count) {
        dbg_log("driver: cannot bind the imports of %s: %s\n", path, st.missing);
        FreeLibrary(mod);
        return 0;
    }
    const IMAGE_DOS_HEADER* dos = (const IMAGE_DOS_HEADER*)mod;
    const IMAGE_NT_HEADERS* nt = (const IMAGE_NT_HEADERS*)((const BYTE*)mod + dos->e_lfanew);
    DWORD entry = nt->OptionalHeader.AddressOfEntryPoint;
    drv->mod = mod;
    if (entry) {
        drv->entry = (BOOL(WINAPI*)(HINSTANCE, DWORD, LPVOID))((BYTE*)mod + entry);
        if (!drv->entry((HINSTANCE)mod, DLL_PROCESS_ATTACH, NULL)) {
            dbg_log("driver: %s refused to start (DllMain failed)\n", path);
            FreeLibrary(mod);
            drv->mod = NULL;
            return 0;
        }
    }
    return 1;
}

void UnloadRenderingDll(LoadedDriver* drv)
{
    if (!drv->mod)
        return;
    if (drv->entry)
        drv->entry((HINSTANCE)drv->mod, DLL_PROCESS_DETACH, NULL);
    FreeLibrary(drv->mod);
    drv->mod = NULL;
}

int DllExports(const char* path, const char* name)
{
    HMODULE mod = LoadLibraryExA(path, NULL, DONT_RESOLVE_DLL_REFERENCES);
    if (!mod)
        return 0;
    int found = GetProcAddress(mod, name) != NULL;
    FreeLibrary(mod);
    return found;
}

// ---- What our own core asks of the host (tessal_host.h) ---------------------------

// A minidriver's plug-in, loaded as the rendering DLL is: its engine
// imports bound to ours.
static HMODULE WINAPI HostLoadPlugin(const WCHAR* path)
{
    char narrow[MAX_PATH * 2];
    if (!path || !WideCharToMultiByte(CP_ACP, 0, path, -1, narrow, sizeof(narrow), NULL, NULL)) {
        dbg_log("driver: a plug-in's path cannot be read\n");
        return NULL;
    }
    LoadedDriver plugin;
    if (!LoadRenderingDll(narrow, &plugin))
        return NULL;
    dbg_log("driver: loaded the plug-in %s\n", narrow);
    return plugin.mod;
}

static void WINAPI HostUnloadPlugin(HMODULE mod)
{
    if (!mod)
        return;
    LoadedDriver plugin = {mod, NULL};
    const IMAGE_DOS_HEADER* dos = (const IMAGE_DOS_HEADER*)mod;
    const IMAGE_NT_HEADERS* nt = (const IMAGE_NT_HEADERS*)((const BYTE*)mod + dos->e_lfanew);
    if (nt->OptionalHeader.AddressOfEntryPoint)
        plugin.entry = (BOOL(WINAPI*)(HINSTANCE, DWORD, LPVOID))((BYTE*)mod
            + nt->OptionalHeader.AddressOfEntryPoint);
    UnloadRenderingDll(&plugin);
}

static void WINAPI HostLogLine(const char* line)
{
    if (line)
        dbg_log("%.1000s\n", line);
}

static const TessalHostCalls kHostCalls
    = {sizeof(TessalHostCalls), HostLoadPlugin, HostUnloadPlugin, HostLogLine};

int EnableRenderingDll(const char* path, LoadedDriver* drv, DRVENABLEDATA* ded)
{
    if (!LoadRenderingDll(path, drv))
        return 0;
    PFN_DrvQueryDriverInfo query
        = (PFN_DrvQueryDriverInfo)(void*)GetProcAddress(drv->mod, "DrvQueryDriverInfo");
    DWORD userMode = 0, needed = 0;
    if (!query || !query(DRVQUERY_USERMODE, &userMode, sizeof(userMode), &needed) || !userMode) {
        dbg_log("driver: refusing %s: not a user-mode printer graphics DLL (DrvQueryDriverInfo)\n",
            path);
        return 0;
    }
    PFN_TessalUseHost useHost = (PFN_TessalUseHost)(void*)GetProcAddress(drv->mod, "TessalUseHost");
    if (useHost && !useHost(&kHostCalls)) {
        dbg_log("driver: %s refused the host's calls (TessalUseHost)\n", path);
        return 0;
    }
    PFN_DrvEnableDriver enable
        = (PFN_DrvEnableDriver)(void*)GetProcAddress(drv->mod, "DrvEnableDriver");
    memset(ded, 0, sizeof(*ded));
    if (!enable || !enable(DDI_DRIVER_VERSION_NT5_01, sizeof(*ded), ded) || !ded->pdrvfn) {
        dbg_log("driver: DrvEnableDriver of %s failed\n", path);
        return 0;
    }
    return 1;
}

PFN FindDriverCall(const DRVENABLEDATA* ded, ULONG index)
{
    for (ULONG i = 0; i < ded->c; i++)
        if (ded->pdrvfn[i].iFunc == index)
            return ded->pdrvfn[i].pfn;
    return NULL;
}
