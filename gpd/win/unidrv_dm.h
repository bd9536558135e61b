// The private part of the device mode that our core and its configuration
// DLL keep after the public DEVMODEW (dmDriverExtra bytes):
//
//   UnidrvDmHeader   our part: the user's choice for every GPD feature
//   plug-in parts    one per plug-in, in the order of the driver's .ini
//                    (OEMDriverFileN / OEMConfigFileN with the same N make
//                    one plug-in), each starting with OEM_DMEXTRAHEADER
//
// Everything in it is checked before use: a device mode comes from
// applications and from the registry.
#pragma once

#include <windows.h>

enum { UNIDRV_DM_SIGNATURE = 0x494e5554 /* "TUNI" */, UNIDRV_DM_VERSION = 1 };
enum { UNIDRV_DM_OPTIONS = 2048 };

struct UnidrvDmHeader {
    DWORD size; // sizeof(UnidrvDmHeader)
    DWORD signature; // UNIDRV_DM_SIGNATURE
    DWORD version; // UNIDRV_DM_VERSION
    DWORD plugins; // how many plug-in parts follow
    char options[UNIDRV_DM_OPTIONS]; // "Feature=Option;...", NUL-terminated
};

// Our part of dm, or NULL when dm has none or it is malformed.
const UnidrvDmHeader* UnidrvDmFind(const DEVMODEW* dm);
// The part of plug-in i (from 0), or NULL when dm has none for it.
// *size is the part's size, header included.
const void* UnidrvDmPlugin(const DEVMODEW* dm, DWORD i, DWORD* size);
// Writes our part with the options text and the plug-in parts after the
// public part of dm, which must have room for dmSize + the total; sets
// dmDriverExtra.  parts[i] may be NULL: that plug-in gets a bare
// OEM_DMEXTRAHEADER.  parts may lie inside dm's own private part.  False
// when it does not fit, a part is shorter than its header or the text is
// too long.
BOOL UnidrvDmWrite(DEVMODEW* dm, DWORD room, const char* options, DWORD plugins,
    const void* const* parts, const DWORD* sizes);
