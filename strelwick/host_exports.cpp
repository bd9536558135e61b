// The engine as a printer graphics DLL links it: every function Windows'
// gdi32 exports to such DLLs, bound by name. A driver is refused only for
// an import that is no engine export at all.
#include "driver_host.h"

#include <string.h>

// Defined in host_engine, host_services, host_clip, host_blt_calls,
// host_blend, host_halftone and host_answered.
HANDLE APIENTRY HostBRUSHOBJ_hGetColorTransform(BRUSHOBJ*);
PVOID APIENTRY HostBRUSHOBJ_pvAllocRbrush(BRUSHOBJ* pbo, ULONG cj);
PVOID APIENTRY HostBRUSHOBJ_pvGetRbrush(BRUSHOBJ* pbo);
ULONG APIENTRY HostBRUSHOBJ_ulGetBrushColor(BRUSHOBJ* pbo);
BOOL APIENTRY HostCLIPOBJ_bEnum(CLIPOBJ* pco, ULONG cj, ULONG* pv);
ULONG APIENTRY HostCLIPOBJ_cEnumStart(CLIPOBJ* pco, BOOL bAll, ULONG iType, ULONG iDirection, ULONG cLimit);
PATHOBJ* APIENTRY HostCLIPOBJ_ppoGetPath(CLIPOBJ* pco);
VOID APIENTRY HostEngAcquireSemaphore(HSEMAPHORE hsem);
BOOL APIENTRY HostEngAlphaBlend(SURFOBJ* psoDest, SURFOBJ* psoSrc, CLIPOBJ* pco, XLATEOBJ* pxlo, RECTL* prclDest, RECTL* prclSrc, BLENDOBJ* pBlendObj);
BOOL APIENTRY HostEngAssociateSurface(HSURF hsurf, HDEV hdev, FLONG flHooks);
BOOL APIENTRY HostEngBitBlt(SURFOBJ* psoTrg, SURFOBJ* psoSrc, SURFOBJ* psoMask, CLIPOBJ* pco, XLATEOBJ* pxlo, RECTL* prclTrg, POINTL* pptlSrc, POINTL* pptlMask, BRUSHOBJ* pbo, POINTL* pptlBrush, ROP4 rop4);
BOOL APIENTRY HostEngCheckAbort(SURFOBJ*);
FD_GLYPHSET* APIENTRY HostEngComputeGlyphSet(INT, INT, INT);
BOOL APIENTRY HostEngCopyBits(SURFOBJ* psoDest, SURFOBJ* psoSrc, CLIPOBJ* pco, XLATEOBJ* pxlo, RECTL* prclDest, POINTL* pptlSrc);
CLIPOBJ* APIENTRY HostEngCreateClip(VOID);
HBITMAP APIENTRY HostEngCreateDeviceBitmap(DHSURF dhsurf, SIZEL sizl, ULONG iFormatCompat);
HSURF APIENTRY HostEngCreateDeviceSurface(DHSURF dhsurf, SIZEL sizl, ULONG iFormatCompat);
HPALETTE APIENTRY HostEngCreatePalette(ULONG iMode, ULONG cColors, ULONG* pulColors, FLONG flRed, FLONG flGreen, FLONG flBlue);
HSEMAPHORE APIENTRY HostEngCreateSemaphore(VOID);
VOID APIENTRY HostEngDeleteClip(CLIPOBJ* pco);
BOOL APIENTRY HostEngDeletePalette(HPALETTE hpal);
VOID APIENTRY HostEngDeletePath(PATHOBJ* ppo);
VOID APIENTRY HostEngDeleteSemaphore(HSEMAPHORE hsem);
BOOL APIENTRY HostEngEraseSurface(SURFOBJ* pso, RECTL* prcl, ULONG iColor);
BOOL APIENTRY HostEngFillPath(SURFOBJ*, PATHOBJ*, CLIPOBJ*, BRUSHOBJ*, POINTL*, MIX, FLONG);
PVOID APIENTRY HostEngFindResource(HANDLE h, int iName, int iType, PULONG pulSize);
VOID APIENTRY HostEngFreeModule(HANDLE h);
VOID APIENTRY HostEngGetCurrentCodePage(PUSHORT oem, PUSHORT ansi);
LPWSTR APIENTRY HostEngGetDriverName(HDEV hdev);
LPWSTR APIENTRY HostEngGetPrinterDataFileName(HDEV hdev);
BOOL APIENTRY HostEngGradientFill(SURFOBJ* psoDest, CLIPOBJ* pco, XLATEOBJ* pxlo, TRIVERTEX* pVertex, ULONG nVertex, PVOID pMesh, ULONG nMesh, RECTL* prclExtents, POINTL* pptlDitherOrg, ULONG ulMode);
BOOL APIENTRY HostEngLineTo(SURFOBJ*, CLIPOBJ*, BRUSHOBJ*, LONG, LONG, LONG, LONG, RECTL*, MIX);
HANDLE APIENTRY HostEngLoadModule(LPWSTR pwsz);
SURFOBJ* APIENTRY HostEngLockSurface(HSURF hsurf);
BOOL APIENTRY HostEngMarkBandingSurface(HSURF hsurf);
VOID APIENTRY HostEngMultiByteToUnicodeN(LPWSTR out, ULONG maxBytes, PULONG bytesOut, PCHAR in, ULONG inBytes);
INT APIENTRY HostEngMultiByteToWideChar(UINT codePage, LPWSTR out, INT outBytes, LPSTR in, INT inBytes);
BOOL APIENTRY HostEngPaint(SURFOBJ* pso, CLIPOBJ* pco, BRUSHOBJ* pbo, POINTL* pptlBrushOrg, MIX mix);
BOOL APIENTRY HostEngPlgBlt(SURFOBJ* psoTrg, SURFOBJ* psoSrc, SURFOBJ* psoMsk, CLIPOBJ* pco, XLATEOBJ* pxlo, COLORADJUSTMENT*, POINTL*, POINTFIX* pptfx, RECTL* prcl, POINTL* pptl, ULONG);
BOOL APIENTRY HostEngQueryEMFInfo(HDEV, void*);
VOID APIENTRY HostEngQueryLocalTime(PENG_TIME_FIELDS ptf);
VOID APIENTRY HostEngReleaseSemaphore(HSEMAPHORE hsem);
BOOL APIENTRY HostEngStretchBlt(SURFOBJ* psoDest, SURFOBJ* psoSrc, SURFOBJ* psoMask, CLIPOBJ* pco, XLATEOBJ* pxlo, COLORADJUSTMENT* pca, POINTL* pptlHTOrg, RECTL* prclDest, RECTL* prclSrc, POINTL* pptlMask, ULONG iMode);
BOOL APIENTRY HostEngStretchBltROP(SURFOBJ* psoDest, SURFOBJ* psoSrc, SURFOBJ* psoMask, CLIPOBJ* pco, XLATEOBJ* pxlo, COLORADJUSTMENT* pca, POINTL* pptlHTOrg, RECTL* prclDest, RECTL* prclSrc, POINTL* pptlMask, ULONG iMode, BRUSHOBJ* pbo, DWORD rop4);
BOOL APIENTRY HostEngStrokeAndFillPath(SURFOBJ*, PATHOBJ*, CLIPOBJ*, XFORMOBJ*, BRUSHOBJ*, LINEATTRS*, BRUSHOBJ*, POINTL*, MIX, FLONG);
BOOL APIENTRY HostEngStrokePath(SURFOBJ*, PATHOBJ*, CLIPOBJ*, XFORMOBJ*, BRUSHOBJ*, POINTL*, LINEATTRS*, MIX);
BOOL APIENTRY HostEngTextOut(SURFOBJ*, STROBJ*, FONTOBJ*, CLIPOBJ*, RECTL*, RECTL*, BRUSHOBJ*, BRUSHOBJ*, POINTL*, MIX);
BOOL APIENTRY HostEngTransparentBlt(SURFOBJ* psoDst, SURFOBJ* psoSrc, CLIPOBJ* pco, XLATEOBJ* pxlo, RECTL* prclDst, RECTL* prclSrc, ULONG iTransColor, ULONG);
VOID APIENTRY HostEngUnicodeToMultiByteN(PCHAR out, ULONG maxBytes, PULONG bytesOut, PWSTR in, ULONG inBytes);
VOID APIENTRY HostEngUnlockSurface(SURFOBJ*);
INT APIENTRY HostEngWideCharToMultiByte(UINT codePage, LPWSTR in, INT inBytes, LPSTR out, INT outBytes);
ULONG APIENTRY HostFONTOBJ_cGetAllGlyphHandles(FONTOBJ*, HGLYPH*);
ULONG APIENTRY HostFONTOBJ_cGetGlyphs(FONTOBJ*, ULONG, ULONG, HGLYPH*, PVOID*);
PFD_GLYPHATTR APIENTRY HostFONTOBJ_pQueryGlyphAttrs(FONTOBJ*, ULONG);
FD_GLYPHSET* APIENTRY HostFONTOBJ_pfdg(FONTOBJ*);
IFIMETRICS* APIENTRY HostFONTOBJ_pifi(FONTOBJ*);
PVOID APIENTRY HostFONTOBJ_pvTrueTypeFontFile(FONTOBJ*, ULONG* size);
XFORMOBJ* APIENTRY HostFONTOBJ_pxoGetXform(FONTOBJ*);
VOID APIENTRY HostFONTOBJ_vGetInfo(FONTOBJ*, ULONG cjSize, FONTINFO* pfi);
LONG APIENTRY HostHT_Get8BPPFormatPalette(LPPALETTEENTRY entries, USHORT, USHORT, USHORT);
LONG APIENTRY HostHT_Get8BPPMaskPalette(LPPALETTEENTRY entries, WINBOOL use8BppMask, BYTE cmyMask, USHORT, USHORT, USHORT);
ULONG APIENTRY HostPALOBJ_cGetColors(PALOBJ* ppalo, ULONG iStart, ULONG cColors, ULONG* pulColors);
BOOL APIENTRY HostPATHOBJ_bEnum(PATHOBJ* ppo, PATHDATA* ppd);
BOOL APIENTRY HostPATHOBJ_bEnumClipLines(PATHOBJ* ppo, ULONG cb, CLIPLINE* pcl);
VOID APIENTRY HostPATHOBJ_vEnumStart(PATHOBJ* ppo);
VOID APIENTRY HostPATHOBJ_vEnumStartClipLines(PATHOBJ* ppo, CLIPOBJ* pco, SURFOBJ* pso, LINEATTRS* pla);
VOID APIENTRY HostPATHOBJ_vGetBounds(PATHOBJ* ppo, PRECTFX prectfx);
BOOL APIENTRY HostSTROBJ_bEnum(STROBJ*, ULONG* pc, PGLYPHPOS* ppgpos);
BOOL APIENTRY HostSTROBJ_bEnumPositionsOnly(STROBJ*, ULONG* pc, PGLYPHPOS* ppgpos);
BOOL APIENTRY HostSTROBJ_bGetAdvanceWidths(STROBJ*, ULONG, ULONG, POINTQF*);
DWORD APIENTRY HostSTROBJ_dwGetCodePage(STROBJ*);
VOID APIENTRY HostSTROBJ_vEnumStart(STROBJ*);
BOOL APIENTRY HostXFORMOBJ_bApplyXform(XFORMOBJ*, ULONG, ULONG, PVOID, PVOID);
ULONG APIENTRY HostXFORMOBJ_iGetXform(XFORMOBJ*, XFORML*);
ULONG APIENTRY HostXLATEOBJ_cGetPalette(XLATEOBJ* pxlo, ULONG iPal, ULONG cPal, ULONG* pPal);
HANDLE APIENTRY HostXLATEOBJ_hGetColorTransform(XLATEOBJ*);
ULONG APIENTRY HostXLATEOBJ_iXlate(XLATEOBJ* pxlo, ULONG iColor);
ULONG* APIENTRY HostXLATEOBJ_piVector(XLATEOBJ* pxlo);

// Sorted by name, for the binary search.
static const struct {
    const char* name;
    void* fn;
} kEngine[] = {
    {"BRUSHOBJ_hGetColorTransform", (void*)HostBRUSHOBJ_hGetColorTransform},
    {"BRUSHOBJ_pvAllocRbrush", (void*)HostBRUSHOBJ_pvAllocRbrush},
    {"BRUSHOBJ_pvGetRbrush", (void*)HostBRUSHOBJ_pvGetRbrush},
    {"BRUSHOBJ_ulGetBrushColor", (void*)HostBRUSHOBJ_ulGetBrushColor},
    {"CLIPOBJ_bEnum", (void*)HostCLIPOBJ_bEnum},
    {"CLIPOBJ_cEnumStart", (void*)HostCLIPOBJ_cEnumStart},
    {"CLIPOBJ_ppoGetPath", (void*)HostCLIPOBJ_ppoGetPath},
    {"EngAcquireSemaphore", (void*)HostEngAcquireSemaphore},
    {"EngAlphaBlend", (void*)HostEngAlphaBlend},
    {"EngAssociateSurface", (void*)HostEngAssociateSurface},
    {"EngBitBlt", (void*)HostEngBitBlt},
    {"EngCheckAbort", (void*)HostEngCheckAbort},
    {"EngComputeGlyphSet", (void*)HostEngComputeGlyphSet},
    {"EngCopyBits", (void*)HostEngCopyBits},
    {"EngCreateBitmap", (void*)HostEngCreateBitmap},
    {"EngCreateClip", (void*)HostEngCreateClip},
    {"EngCreateDeviceBitmap", (void*)HostEngCreateDeviceBitmap},
    {"EngCreateDeviceSurface", (void*)HostEngCreateDeviceSurface},
    {"EngCreatePalette", (void*)HostEngCreatePalette},
    {"EngCreateSemaphore", (void*)HostEngCreateSemaphore},
    {"EngDeleteClip", (void*)HostEngDeleteClip},
    {"EngDeletePalette", (void*)HostEngDeletePalette},
    {"EngDeletePath", (void*)HostEngDeletePath},
    {"EngDeleteSemaphore", (void*)HostEngDeleteSemaphore},
    {"EngDeleteSurface", (void*)HostEngDeleteSurface},
    {"EngEraseSurface", (void*)HostEngEraseSurface},
    {"EngFillPath", (void*)HostEngFillPath},
    {"EngFindResource", (void*)HostEngFindResource},
    {"EngFreeModule", (void*)HostEngFreeModule},
    {"EngGetCurrentCodePage", (void*)HostEngGetCurrentCodePage},
    {"EngGetDriverName", (void*)HostEngGetDriverName},
    {"EngGetPrinterDataFileName", (void*)HostEngGetPrinterDataFileName},
    {"EngGradientFill", (void*)HostEngGradientFill},
    {"EngLineTo", (void*)HostEngLineTo},
    {"EngLoadModule", (void*)HostEngLoadModule},
    {"EngLockSurface", (void*)HostEngLockSurface},
    {"EngMarkBandingSurface", (void*)HostEngMarkBandingSurface},
    {"EngMultiByteToUnicodeN", (void*)HostEngMultiByteToUnicodeN},
    {"EngMultiByteToWideChar", (void*)HostEngMultiByteToWideChar},
    {"EngPaint", (void*)HostEngPaint},
    {"EngPlgBlt", (void*)HostEngPlgBlt},
    {"EngQueryEMFInfo", (void*)HostEngQueryEMFInfo},
    {"EngQueryLocalTime", (void*)HostEngQueryLocalTime},
    {"EngReleaseSemaphore", (void*)HostEngReleaseSemaphore},
    {"EngStretchBlt", (void*)HostEngStretchBlt},
    {"EngStretchBltROP", (void*)HostEngStretchBltROP},
    {"EngStrokeAndFillPath", (void*)HostEngStrokeAndFillPath},
    {"EngStrokePath", (void*)HostEngStrokePath},
    {"EngTextOut", (void*)HostEngTextOut},
    {"EngTransparentBlt", (void*)HostEngTransparentBlt},
    {"EngUnicodeToMultiByteN", (void*)HostEngUnicodeToMultiByteN},
    {"EngUnlockSurface", (void*)HostEngUnlockSurface},
    {"EngWideCharToMultiByte", (void*)HostEngWideCharToMultiByte},
    {"FONTOBJ_cGetAllGlyphHandles", (void*)HostFONTOBJ_cGetAllGlyphHandles},
    {"FONTOBJ_cGetGlyphs", (void*)HostFONTOBJ_cGetGlyphs},
    {"FONTOBJ_pQueryGlyphAttrs", (void*)HostFONTOBJ_pQueryGlyphAttrs},
    {"FONTOBJ_pfdg", (void*)HostFONTOBJ_pfdg},
    {"FONTOBJ_pifi", (void*)HostFONTOBJ_pifi},
    {"FONTOBJ_pvTrueTypeFontFile", (void*)HostFONTOBJ_pvTrueTypeFontFile},
    {"FONTOBJ_pxoGetXform", (void*)HostFONTOBJ_pxoGetXform},
    {"FONTOBJ_vGetInfo", (void*)HostFONTOBJ_vGetInfo},
    {"HT_Get8BPPFormatPalette", (void*)HostHT_Get8BPPFormatPalette},
    {"HT_Get8BPPMaskPalette", (void*)HostHT_Get8BPPMaskPalette},
    {"PALOBJ_cGetColors", (void*)HostPALOBJ_cGetColors},
    {"PATHOBJ_bEnum", (void*)HostPATHOBJ_bEnum},
    {"PATHOBJ_bEnumClipLines", (void*)HostPATHOBJ_bEnumClipLines},
    {"PATHOBJ_vEnumStart", (void*)HostPATHOBJ_vEnumStart},
    {"PATHOBJ_vEnumStartClipLines", (void*)HostPATHOBJ_vEnumStartClipLines},
    {"PATHOBJ_vGetBounds", (void*)HostPATHOBJ_vGetBounds},
    {"STROBJ_bEnum", (void*)HostSTROBJ_bEnum},
    {"STROBJ_bEnumPositionsOnly", (void*)HostSTROBJ_bEnumPositionsOnly},
    {"STROBJ_bGetAdvanceWidths", (void*)HostSTROBJ_bGetAdvanceWidths},
    {"STROBJ_dwGetCodePage", (void*)HostSTROBJ_dwGetCodePage},
    {"STROBJ_vEnumStart", (void*)HostSTROBJ_vEnumStart},
    {"XFORMOBJ_bApplyXform", (void*)HostXFORMOBJ_bApplyXform},
    {"XFORMOBJ_iGetXform", (void*)HostXFORMOBJ_iGetXform},
    {"XLATEOBJ_cGetPalette", (void*)HostXLATEOBJ_cGetPalette},
    {"XLATEOBJ_hGetColorTransform", (void*)HostXLATEOBJ_hGetColorTransform},
    {"XLATEOBJ_iXlate", (void*)HostXLATEOBJ_iXlate},
    {"XLATEOBJ_piVector", (void*)HostXLATEOBJ_piVector},
};

void* FindEngineCallback(const char* name)
{
    size_t lo = 0, hi = sizeof(kEngine) / sizeof(kEngine[0]);
    while (lo < hi) {
        size_t mid = (lo + hi) / 2;
        int c = strcmp(name, kEngine[mid].name);
        if (!c)
            return kEngine[mid].fn;
        if (c < 0)
            hi = mid;
        else
            lo = mid + 1;
    }
    return NULL;
}

int IsEngineName(const char* name)
{
    static const char* const kPrefixes[] = {"Eng", "BRUSHOBJ_", "CLIPOBJ_", "XLATEOBJ_", "FONTOBJ_",
        "PATHOBJ_", "STROBJ_", "XFORMOBJ_", "PALOBJ_", "HT_"};
    for (const char* p : kPrefixes)
        if (strncmp(name, p, strlen(p)) == 0)
            return 1;
    return 0;
}
