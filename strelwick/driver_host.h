// The user-mode printer driver host: img mode printing through a printer's
// own rendering DLL, with the print tool playing GDI's part of the DDI.
#ifndef STRELWICK_DRIVER_HOST_H
#define STRELWICK_DRIVER_HOST_H

#include <windows.h>
#include <winddi.h>
#include <winspool.h>

#include "strelwick.h"

// ---- Engine objects (host_engine.cpp) -------------------------------------

// A surface the engine knows: an engine-managed bitmap or a device surface.
// The SURFOBJ comes first, so that a SURFOBJ* leads back to its surface.
struct EngSurface {
    SURFOBJ so;
    void* ownBits; // pixels the engine allocated, freed with the surface
    FLONG hooks; // from EngAssociateSurface
    int banding; // EngMarkBandingSurface was called
};

struct EngPalette {
    ULONG mode; // PAL_INDEXED, PAL_BITFIELDS, PAL_RGB, PAL_BGR, PAL_CMYK
    ULONG count;
    ULONG* colors; // PAL_INDEXED: 0x00BBGGRR entries
    FLONG red, green, blue; // PAL_BITFIELDS masks
};

// The driver's entry points that the host and the engine call.
struct DriverCalls {
    PFN_DrvEnablePDEV enablePdev;
    PFN_DrvCompletePDEV completePdev;
    PFN_DrvEnableSurface enableSurface;
    PFN_DrvDisableSurface disableSurface;
    PFN_DrvDisablePDEV disablePdev;
    PFN_DrvDisableDriver disableDriver;
    PFN_DrvStartDoc startDoc;
    PFN_DrvEndDoc endDoc;
    PFN_DrvStartPage startPage;
    PFN_DrvSendPage sendPage;
    PFN_DrvStartBanding startBanding;
    PFN_DrvNextBand nextBand;
    PFN_DrvCopyBits copyBits;
    PFN_DrvBitBlt bitBlt;
    PFN_DrvStretchBlt stretchBlt;
};


// What the engine knows about the device: the HDEV handed to the driver
// points at this. The names answer EngGetPrinterDataFileName and
// EngGetDriverName; the driver's calls and its GDIINFO let the engine punt
// to the driver's hooked blits and halftone for its device, as GDI does.
struct HostDevice {
    WCHAR dataFile[MAX_PATH];
    WCHAR driverPath[MAX_PATH];
    DHPDEV pdev; // the driver's PDEV, which surfaces associated with it carry
    const DriverCalls* drv;
    const GDIINFO* gdi;
    const DEVINFO* devinfo;
    POINTL bandOrigin; // where the surface's origin lies on the page
};

// An XLATEOBJ the engine made: between two palettes (NULL palette: BGR).
struct HostXlate {
    XLATEOBJ xo;
    const EngPalette* src;
    ULONG srcFormat;
    const EngPalette* dst;
    ULONG dstFormat;
    ULONG table[256]; // XO_TABLE: an indexed source's colours in the target's
};

// A clip object the engine made: the whole surface (DC_TRIVIAL), its
// bounds (DC_RECT) or a list of rectangles (DC_COMPLEX).
struct HostClip {
    CLIPOBJ co;
    RECTL* rects; // DC_COMPLEX
    ULONG count;
    ULONG next; // enumeration position
};

EngSurface* SurfaceOf(HSURF h);
EngPalette* PaletteOf(HPALETTE h);
// The device a surface is associated with, or NULL.
HostDevice* DeviceOf(const SURFOBJ* so);
HBITMAP APIENTRY HostEngCreateBitmap(SIZEL sizl, LONG lWidth, ULONG iFormat, FLONG fl, PVOID pvBits);
BOOL APIENTRY HostEngDeleteSurface(HSURF hsurf);

// The engine function Windows' gdi32 exports under this name, or NULL.
void* FindEngineCallback(const char* name);
// Whether GDI32's name belongs to the engine's families (Eng*, *OBJ_*, HT_*),
// which Wine's gdi32 does not export.
int IsEngineName(const char* name);
// Logs, once per job, that the driver called an engine function a job of
// bitmap pages never needs (host_answered.cpp).
void EngineAnswered(const char* name);

// ---- Clips (host_clip.cpp) --------------------------------------------------

void MakeRectClip(HostClip* c, const RECTL* r);
// Returns 0 when out of memory; FreeClip releases the copy of the rectangles.
int MakeComplexClip(HostClip* c, const RECTL* rects, ULONG count);
void FreeClip(HostClip* c);
// The rectangles a blit is limited to: one for a trivial or rectangle clip
// (NULL: the whole surface, `whole`).
ULONG ClipRectCount(CLIPOBJ* pco);
RECTL ClipRectAt(CLIPOBJ* pco, ULONG i, const RECTL* whole);

// ---- Halftoning (host_halftone.cpp) ------------------------------------------

// A device's halftone format: HT_FORMAT_*, the bitmap format, its palette
// (0x00BBGGRR, none for 16 bpp and above), levels per channel and the
// threshold cell.
struct HtFormat {
    ULONG htFormat;
    ULONG bmf;
    ULONG count;
    ULONG colors[256];
    int levels;
    int cmy; // HT_FLAG_OUTPUT_CMY: index bits are inks
    int cell;
    BYTE threshold[16][16];
};

// The halftone format for drawing onto a target of dstFormat on the device
// described by gdi (NULL: defaults).
void HalftoneFormatFor(const GDIINFO* gdi, ULONG dstFormat, HtFormat* f);
// The halftone value of 0x00RRGGBB at page position (x, y).
ULONG HalftonePixel(const HtFormat* f, ULONG rgb, LONG x, LONG y);
// The format's palette as an engine palette (its colours stay f's).
void HalftonePalette(const HtFormat* f, EngPalette* pal);

// ---- Bit block transfers (host_blt.cpp) ---------------------------------------

// Whether the engine can draw on or read the surface: it has bits in a known format.
int HasBits(const SURFOBJ* so);
RECTL Intersect(RECTL a, const RECTL& b);
// The palette a destination's colours are in: the XLATEOBJ's target when
// the engine made one, else the device's.
const EngPalette* TargetPalette(const SURFOBJ* dst, XLATEOBJ* xlo);

// Any ROP4 of source, pattern (solid brushes) and destination on an engine
// bitmap, with a 1-bpp mask choosing between its two ROP3s.
BOOL RopBlt(SURFOBJ* dst, SURFOBJ* src, SURFOBJ* mask, CLIPOBJ* pco, XLATEOBJ* xlo,
    const RECTL* dstRect, const POINTL* srcAt, const POINTL* maskAt, BRUSHOBJ* pbo, ROP4 rop4);
// Stretches srcRect onto dstRect of an engine bitmap in a stretch mode; with
// ht, halftones at page offset htOrigin into htTarget's colours (NULL: the
// halftone values themselves).
BOOL StretchOnto(SURFOBJ* dst, SURFOBJ* src, CLIPOBJ* pco, XLATEOBJ* xlo, const RECTL* dstRect,
    const RECTL* srcRect, ULONG mode, const HtFormat* ht, const EngPalette* htTarget,
    POINTL htOrigin);

// ---- Pixels (host_pixels.cpp) ----------------------------------------------

// How RGB pixels become device colours on a surface.
struct ColorTarget {
    const EngPalette* pal; // the device palette; NULL means BGR for 24 and 32 bpp
};

// Bits per pixel of a BMF_ format, 0 for an unknown one.
int FormatBits(ULONG iBitmapFormat);
// The device colour for 0x00RRGGBB under pal (nearest entry for an indexed palette).
ULONG DeviceColor(const EngPalette* pal, ULONG format, ULONG rgb);
ULONG GetPixelValue(const SURFOBJ* so, LONG x, LONG y);
void PutPixelValue(SURFOBJ* so, LONG x, LONG y, ULONG v);
// Writes rows of 32-bit BGRX pixels (top row first, `stride` bytes apart)
// into so at (x0, y0), clipped to the surface.
void WriteRgbRows(SURFOBJ* so, const ColorTarget* t, LONG x0, LONG y0, const BYTE* rows, LONG width,
    LONG height, LONG stride);
// Fills a rectangle of an engine-managed bitmap with a device colour.
void FillRect(SURFOBJ* so, const RECTL* r, ULONG color);
// Copies (and scales, nearest pixel) src's srcRect onto dst's dstRect,
// translating each pixel through xlo (NULL: unchanged), inside clip.
BOOL BlitBits(SURFOBJ* dst, SURFOBJ* src, const RECTL* dstRect, const RECTL* srcRect, XLATEOBJ* xlo,
    const RECTL* clip);
ULONG TranslateColor(XLATEOBJ* xlo, ULONG c);
// 0x00RRGGBB of a device colour under pal (NULL: BGR, or 5-5-5 at 16 bpp).
ULONG PaletteRgb(const EngPalette* pal, ULONG format, ULONG v);
// Sets up an XLATEOBJ from one palette to another: trivial when they agree.
void MakeXlate(
    HostXlate* x, const EngPalette* src, ULONG srcFormat, const EngPalette* dst, ULONG dstFormat);

// ---- Loading the rendering DLL (host_load.cpp) -----------------------------

struct LoadedDriver {
    HMODULE mod;
    BOOL(WINAPI* entry)(HINSTANCE, DWORD, LPVOID);
};

// Maps the DLL without running any of its code, binds its imports (engine
// names to ours) and then calls its entry point. Returns 0 after logging why
// when it does not load, or when it imports something that is not there.
int LoadRenderingDll(const char* path, LoadedDriver* drv);
// The same checks without binding or running anything, before the
// configuration DLL (which may be the same file) is asked for a device mode.
int CheckRenderingDll(const char* path);
void UnloadRenderingDll(LoadedDriver* drv);
// Whether the DLL at path exports name, found without running its code.
int DllExports(const char* path, const char* name);
// Loads the DLL as LoadRenderingDll does, checks that it is a user-mode
// printer graphics DLL and enables it. Returns 0 after logging why not; the
// caller unloads it either way.
int EnableRenderingDll(const char* path, LoadedDriver* drv, DRVENABLEDATA* ded);
// The driver's function with this INDEX_Drv* number, or NULL.
PFN FindDriverCall(const DRVENABLEDATA* ded, ULONG index);

// ---- Printing (host_print.cpp: the job; host_page.cpp: pages and bands) ----

// Everything one job through the driver holds, released by EndJob.
struct HostJob {
    const char* printer;
    HostDevice device;
    LoadedDriver dll;
    DriverCalls drv;
    HANDLE hPrinter;
    DEVMODEW* devmode;
    GDIINFO gdi;
    DEVINFO devinfo;
    HSURF patterns[HS_DDI_MAX];
    DHPDEV pdev;
    HSURF hsurf;
    EngSurface* surf;
    DWORD jobId;
    int docStarted; // DrvStartDoc succeeded
    // The page conversion band: a 32-bit top-down DIB section.
    HDC bandDc;
    HBITMAP bandBitmap;
    HGDIOBJ oldBitmap;
    BYTE* bandBits;
    LONG bandWidth;
    LONG bandRows;
    BYTE* bandInfo; // the current page's header, masks and colours, for slicing
};


// The watchdog (host_watchdog.cpp): between StartDriverWatchdog and
// StopDriverWatchdog, a driver call bracketed by DriverCallBegin and
// DriverCallEnd that runs past the limit ends the job and the process.
void StartDriverWatchdog(HANDLE printer);
void StopDriverWatchdog(void);
void DriverCallBegin(const char* name);
void DriverCallEnd(void);

// One page: DrvStartPage, the pixels (band by band for a banding driver),
// then DrvSendPage (or the last DrvNextBand). Returns 0 after logging why
// the job must end.
int PrintPage(HostJob* job, const BmpPage* page);

// The printer's rendering DLL when it is not Wine's own PostScript driver.
// Returns 1 and fills *info (free() it) for such a printer, 0 for wineps or
// when the printer cannot be asked (the GDI path then reports it).
int FindOwnDriver(const char* printer, DRIVER_INFO_3A** info);
// img mode through the printer's own driver. Exit code as DrawImageToPrinter.
int HostPrintImages(const char* printer, const DRIVER_INFO_3A* info);

#endif
