// The user-mode printer driver host: img mode printing through a printer's
// own rendering DLL, with the print tool playing GDI's part of the DDI.
#ifndef STRELWICK_DRIVER_HOST_H
#define STRELWICK_DRIVER_HOST_H

#include <windows.h>
#include <winddi.h>
#include <winspool.h>

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

// What the engine tells the driver about its device (EngGetPrinterDataFileName,
// EngGetDriverName): the HDEV handed to the driver points at this.
struct HostDevice {
    WCHAR dataFile[MAX_PATH];
    WCHAR driverPath[MAX_PATH];
    DHPDEV pdev; // the driver's PDEV, which surfaces associated with it carry
};

// An XLATEOBJ the engine made: between two palettes (NULL palette: BGR).
struct HostXlate {
    XLATEOBJ xo;
    const EngPalette* src;
    ULONG srcFormat;
    const EngPalette* dst;
    ULONG dstFormat;
};

EngSurface* SurfaceOf(HSURF h);
EngPalette* PaletteOf(HPALETTE h);

// The engine callback a driver may import from GDI32 under this name, or NULL.
void* FindEngineCallback(const char* name);
// Whether GDI32's name belongs to the engine's families (Eng*, *OBJ_*, HT_*),
// which Wine's gdi32 does not export.
int IsEngineName(const char* name);

// ---- Pixels (host_pixels.cpp) ----------------------------------------------

// How RGB pixels become device colours on a surface.
struct ColorTarget {
    const EngPalette* pal; // the device palette; NULL means BGR for 24 and 32 bpp
    int halftone; // 1-bpp surface: ordered dither instead of nearest colour
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

// ---- Printing (host_print.cpp) ---------------------------------------------

// The printer's rendering DLL when it is not Wine's own PostScript driver.
// Returns 1 and fills *info (free() it) for such a printer, 0 for wineps or
// when the printer cannot be asked (the GDI path then reports it).
int FindOwnDriver(const char* printer, DRIVER_INFO_3A** info);
// img mode through the printer's own driver. Exit code as DrawImageToPrinter.
int HostPrintImages(const char* printer, const DRIVER_INFO_3A* info);

#endif
