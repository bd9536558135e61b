// tessal-unidrv.dll: our core for GPD minidrivers as a user-mode printer
// graphics DLL.  The print tool's driver host loads it like any rendering
// DLL; it reads the minidriver's GPD (the printer's data file), prints each
// page through the portable raster printer (gpd_raster.h) and hands the
// minidriver's rendering plug-ins their part, as their published interfaces
// describe.
//
//   core_ddi.cpp      the DDI entry points and the calls plug-ins hook
//   core_device.cpp   options, GDIINFO/DEVINFO, palette, surface
//   core_job.cpp      documents, pages and bands into the raster printer
//   core_files.cpp    the driver's files: GPD, .ini, plug-in DLLs
//   core_plugin.cpp   loading plug-ins and their PDEV calls
//   core_helpers.cpp  what plug-ins call back (IPrintOemDriverUni, DRVPROCS)
//   core_render.cpp   plug-in work in a job (callbacks, filter, compression,
//                     image processing, output)
#pragma once

#include <windows.h>
#include <winddi.h>

#include "gpd_raster.h"
#include "oem_iface.h"
#include "tessal_host.h"

#include <string>
#include <vector>

enum { CORE_MAX_PLUGINS = 8, CORE_MAGIC = 0x45524f43 /* "CORE" */ };

// Which optional methods a plug-in implements (GetImplementedMethod).
enum CoreMethod {
    CM_DevMode, CM_EnableDriver, CM_EnablePDEV, CM_DisablePDEV, CM_DisableDriver,
    CM_CommandCallback, CM_ImageProcessing, CM_FilterGraphics, CM_Compression,
    CM_HalftonePattern, CM_MemoryUsage, CM_WritePrinter, CM_COUNT
};

struct CorePlugin {
    HMODULE mod;
    TessalOemUni* uni;
    int version; // 1, 2 or 3: the interface it answered
    DWORD signature;
    bool has[CM_COUNT];
    bool driverEnabled, pdevEnabled;
    void* pdevOEM; // from its EnablePDEV
    std::vector<unsigned char> dm; // its private device mode part
};

// The PDEV.  A plug-in's hooked DDI call finds it as SURFOBJ::dhpdev, so it
// starts with the DEVOBJ the plug-in knows.
struct CorePdev {
    OEM_DEVOBJ devobj;
    DWORD magic; // CORE_MAGIC: a DEVOBJ a plug-in hands back is ours
    OEM_DRVPROCS procs;
    TessalOemDriverUni helper; // IPrintOemDriverUni
    HANDLE printer;
    HDEV hdev;
    std::vector<unsigned char> dmCopy; // the device mode the job runs with
    WCHAR name[256];
    // The minidriver.
    std::wstring gpdPath;
    std::vector<std::wstring> dependents;
    gpd_doc doc;
    gpd_config config;
    gpd_device dev;
    long copies;
    bool repeatPages; // copies the printer cannot make: each page sent copies times
    bool capturing;
    std::string pageCopy; // the page's printer data while capturing
    // The surface: an engine bitmap of bandRows rows, drawn band by band.
    int bpp; // 1, 4 or 24
    int dibBpp; // the colour mode's *DrvBPP: the bands ImageProcessing gets
    HPALETTE pal;
    HSURF hsurf;
    long bandRows, bandTop;
    std::vector<unsigned char> rowBuf;
    // The job.
    gpd_job job;
    gpd_plugin hooks;
    bool jobOn, pageOn, failed;
    bool docStarted; // DrvStartDoc came: the spooler takes data
    std::string early; // what plug-ins wrote before it, sent first
    // Plug-ins, in .ini order; the DDI calls they hook and who hooks each.
    CorePlugin plugins[CORE_MAX_PLUGINS];
    int pluginCount;
    PFN hook[INDEX_LAST];
    int hookOwner[INDEX_LAST];
    int ipPlugin; // the plug-in that processes bands (-1: none)
    long ipCallback; // the ColorMode option's *IPCallbackID
    int writer; // the plug-in whose WritePrinter takes the output (-1: the spooler)
    std::vector<unsigned char> scratch; // plug-ins get writable copies
};

// ---- core_ddi.cpp
void CoreLog(const char* fmt, ...);
const TessalHostCalls* CoreHost(); // NULL when the host offers none
// The core's own DDI functions, which a plug-in's hooks call.
extern DRVENABLEDATA g_coreOwn;
BOOL CoreFail(CorePdev* p, const std::string& why);

// ---- core_device.cpp
// Options from the device mode, the device they make and the engine's view
// of it.  False with *err.
bool CoreReadOptions(CorePdev* p, const DEVMODEW* dm, std::string* err);
void CoreFillGdiInfo(CorePdev* p, GDIINFO* gdi, DEVINFO* di);
HSURF CoreMakeSurface(CorePdev* p);
// A row of bpp bits a pixel (the surface's or ImageProcessing's format)
// as the raster printer takes it.
const unsigned char* CoreRow(CorePdev* p, int bpp, const unsigned char* row);
// The raster printer's bits a pixel for rows of bpp bits.
int CoreInBpp(int bpp);
// What the page's rows come as: the bands ImageProcessing returns, or the surface.
int CorePageBpp(const CorePdev* p);

// ---- core_job.cpp
BOOL APIENTRY CoreStartDoc(SURFOBJ* so, LPWSTR name, DWORD jobId);
BOOL APIENTRY CoreEndDoc(SURFOBJ* so, FLONG fl);
BOOL APIENTRY CoreStartPage(SURFOBJ* so);
BOOL APIENTRY CoreSendPage(SURFOBJ* so);
BOOL APIENTRY CoreStartBanding(SURFOBJ* so, POINTL* ptl);
BOOL APIENTRY CoreNextBand(SURFOBJ* so, POINTL* ptl);
// Writes printer data: to the plug-in that takes it, or the spooler.
bool CoreWrite(CorePdev* p, const void* data, size_t len);

// ---- core_files.cpp
// The printer's data file (the GPD) and dependent files.  False with *err.
bool CoreDriverFiles(CorePdev* p, std::string* err);
// The rendering plug-ins (OEMDriverFileN) of the .ini among the dependent
// files, as full paths in N order; empty paths for numbers not given.
bool CorePluginFiles(const CorePdev* p, std::vector<std::wstring>* out, std::string* err);
// Parses .ini text: [OEMFiles] OEMDriverFileN names, by N from 1.
void CoreParseIni(const std::string& text, std::vector<std::string>* names);

// ---- core_plugin.cpp
bool CoreLoadPlugins(CorePdev* p, std::string* err);
// After our GDIINFO is filled: each plug-in's EnablePDEV.
bool CoreEnablePluginPdevs(CorePdev* p, GDIINFO* gdi, DEVINFO* di, std::string* err);
void CoreUnloadPlugins(CorePdev* p);
// Points the DEVOBJ at plug-in i's PDEV and private device mode part.
void CoreSelect(CorePdev* p, int i);
bool CoreImplements(const CorePdev* p, int i, CoreMethod m);

// ---- core_helpers.cpp
void CoreInitHelpers(CorePdev* p);
// The PDEV of a DEVOBJ a plug-in hands back, or NULL when it is not ours.
CorePdev* CoreFromDevobj(void* devobj);

// ---- core_render.cpp
// The raster printer's plug-in hooks, for the plug-ins that implement them.
void CoreInitRender(CorePdev* p);
// One band of the surface into the raster printer, through the plug-in's
// ImageProcessing when the colour mode asks for it.
bool CoreSendBand(CorePdev* p, SURFOBJ* so, long top, long rows, std::string* err);
