// What Tessal Band's two plug-ins share: the plug-ins' private device mode
// part, the COM class factory and GetInfo, and the framing the rendering
// plug-in writes (which tests/gpd/tband_decode.cpp reads back):
//
//   every record: a 4-byte tag, then little-endian 32-bit numbers
//   "TBJH" version copies x-dpi y-dpi paper-width paper-length darkness
//                           (a job; paper in master units, darkness from
//                            the private device mode part)
//   "TBFN" finish           (the Finish option's callback id)
//   "TBPH" page             (a page, from 1)
//   "TBBD" x y width height bpp length, then length bytes
//                           (a band at x, y in the printable area; rows top
//                            first, each (width*bpp+7)/8 bytes, 8 bpp gray
//                            or 24 bpp red-green-blue, run-length coded:
//                            a byte n < 128 then n+1 bytes as they are, a
//                            byte n >= 128 then one byte repeated n-126 times)
//   "TBJE" pages            (the end of the job)
#pragma once

#include <windows.h>

#include "oem_iface.h"

enum {
    TBAND_DM_SIGNATURE = 0x444e4254, // "TBND"
    TBAND_DM_VERSION = 0x00010000,
    TBAND_DARKNESS_MAX = 15,
    TBAND_FRAME_VERSION = 1,
};

// The private part both plug-ins keep (plug-in 1's part of the device mode).
struct TBandDm {
    OEM_DMEXTRAHEADER header;
    DWORD darkness; // 0..TBAND_DARKNESS_MAX
};

// The part's size, defaults, or a checked copy of the input over the output
// (OEMDM_CONVERT, OEMDM_MERGE: a part that is not ours keeps the defaults
// already in the output).  E_FAIL on a buffer too small.
HRESULT TBandDevMode(DWORD mode, OEM_DMPARAM* param, DWORD defaultDarkness);
// The darkness of a private part, or fallback when it is not a valid one.
DWORD TBandDarkness(const void* oemDm, DWORD fallback);
// GetInfo for both plug-ins.
HRESULT TBandGetInfo(DWORD mode, PVOID buffer, DWORD size, PDWORD needed);

// The plug-in object a DLL makes, and the class the core asks its
// DllGetClassObject for (CLSID_TessalOemRender or CLSID_TessalOemUI); each
// DLL defines them.  NULL on no memory.
IUnknown* TBandNewObject();
extern const GUID& kTBandClass;
// Counts the objects alive, for DllCanUnloadNow.
void TBandObjectMade();
void TBandObjectGone();
