// Engine functions a job of bitmap pages never reaches: they work on fonts,
// glyph strings, path transforms and strokes, which only exist when GDI calls
// a driver's DrvTextOut, DrvStrokePath or DrvFillPath, and the host never
// does. Drivers link them all the same, so each is bound, returns its
// documented failure value, and the first call in the job logs its name.
#include "driver_host.h"

#include <string.h>

#include "strelwick.h"

void EngineAnswered(const char* name)
{
    static const char* logged[64];
    static int count;
    for (int i = 0; i < count; i++)
        if (logged[i] == name || strcmp(logged[i], name) == 0)
            return;
    if (count < 64)
        logged[count++] = name;
    dbg_log("driver: it called %s, which a job of bitmap pages never needs; answered with its "
            "failure value\n",
        name);
}

HANDLE APIENTRY HostBRUSHOBJ_hGetColorTransform(BRUSHOBJ*)
{
    EngineAnswered("BRUSHOBJ_hGetColorTransform");
    return NULL;
}

HANDLE APIENTRY HostXLATEOBJ_hGetColorTransform(XLATEOBJ*)
{
    EngineAnswered("XLATEOBJ_hGetColorTransform");
    return NULL;
}

FD_GLYPHSET* APIENTRY HostEngComputeGlyphSet(INT, INT, INT)
{
    EngineAnswered("EngComputeGlyphSet");
    return NULL;
}

BOOL APIENTRY HostEngFillPath(SURFOBJ*, PATHOBJ*, CLIPOBJ*, BRUSHOBJ*, POINTL*, MIX, FLONG)
{
    EngineAnswered("EngFillPath");
    return FALSE;
}

BOOL APIENTRY HostEngLineTo(
    SURFOBJ*, CLIPOBJ*, BRUSHOBJ*, LONG, LONG, LONG, LONG, RECTL*, MIX)
{
    EngineAnswered("EngLineTo");
    return FALSE;
}

BOOL APIENTRY HostEngStrokeAndFillPath(SURFOBJ*, PATHOBJ*, CLIPOBJ*, XFORMOBJ*, BRUSHOBJ*,
    LINEATTRS*, BRUSHOBJ*, POINTL*, MIX, FLONG)
{
    EngineAnswered("EngStrokeAndFillPath");
    return FALSE;
}

BOOL APIENTRY HostEngStrokePath(
    SURFOBJ*, PATHOBJ*, CLIPOBJ*, XFORMOBJ*, BRUSHOBJ*, POINTL*, LINEATTRS*, MIX)
{
    EngineAnswered("EngStrokePath");
    return FALSE;
}

BOOL APIENTRY HostEngTextOut(SURFOBJ*, STROBJ*, FONTOBJ*, CLIPOBJ*, RECTL*, RECTL*, BRUSHOBJ*,
    BRUSHOBJ*, POINTL*, MIX)
{
    EngineAnswered("EngTextOut");
    return FALSE;
}

ULONG APIENTRY HostFONTOBJ_cGetAllGlyphHandles(FONTOBJ*, HGLYPH*)
{
    EngineAnswered("FONTOBJ_cGetAllGlyphHandles");
    return 0;
}

ULONG APIENTRY HostFONTOBJ_cGetGlyphs(FONTOBJ*, ULONG, ULONG, HGLYPH*, PVOID*)
{
    EngineAnswered("FONTOBJ_cGetGlyphs");
    return 0;
}

PFD_GLYPHATTR APIENTRY HostFONTOBJ_pQueryGlyphAttrs(FONTOBJ*, ULONG)
{
    EngineAnswered("FONTOBJ_pQueryGlyphAttrs");
    return NULL;
}

FD_GLYPHSET* APIENTRY HostFONTOBJ_pfdg(FONTOBJ*)
{
    EngineAnswered("FONTOBJ_pfdg");
    return NULL;
}

IFIMETRICS* APIENTRY HostFONTOBJ_pifi(FONTOBJ*)
{
    EngineAnswered("FONTOBJ_pifi");
    return NULL;
}

PVOID APIENTRY HostFONTOBJ_pvTrueTypeFontFile(FONTOBJ*, ULONG* size)
{
    EngineAnswered("FONTOBJ_pvTrueTypeFontFile");
    if (size)
        *size = 0;
    return NULL;
}

XFORMOBJ* APIENTRY HostFONTOBJ_pxoGetXform(FONTOBJ*)
{
    EngineAnswered("FONTOBJ_pxoGetXform");
    return NULL;
}

VOID APIENTRY HostFONTOBJ_vGetInfo(FONTOBJ*, ULONG cjSize, FONTINFO* pfi)
{
    EngineAnswered("FONTOBJ_vGetInfo");
    if (pfi)
        memset(pfi, 0, cjSize < sizeof(FONTINFO) ? cjSize : sizeof(FONTINFO));
}

// The string enumerations say "no more glyphs" (FALSE with a count of 0)
// rather than DDI_ERROR, which a driver looping while the result is non-zero
// would take for "more".
BOOL APIENTRY HostSTROBJ_bEnum(STROBJ*, ULONG* pc, PGLYPHPOS* ppgpos)
{
    EngineAnswered("STROBJ_bEnum");
    if (pc)
        *pc = 0;
    if (ppgpos)
        *ppgpos = NULL;
    return FALSE;
}

BOOL APIENTRY HostSTROBJ_bEnumPositionsOnly(STROBJ*, ULONG* pc, PGLYPHPOS* ppgpos)
{
    EngineAnswered("STROBJ_bEnumPositionsOnly");
    if (pc)
        *pc = 0;
    if (ppgpos)
        *ppgpos = NULL;
    return FALSE;
}

BOOL APIENTRY HostSTROBJ_bGetAdvanceWidths(STROBJ*, ULONG, ULONG, POINTQF*)
{
    EngineAnswered("STROBJ_bGetAdvanceWidths");
    return FALSE;
}

DWORD APIENTRY HostSTROBJ_dwGetCodePage(STROBJ*)
{
    EngineAnswered("STROBJ_dwGetCodePage");
    return 0;
}

VOID APIENTRY HostSTROBJ_vEnumStart(STROBJ*)
{
    EngineAnswered("STROBJ_vEnumStart");
}

BOOL APIENTRY HostXFORMOBJ_bApplyXform(XFORMOBJ*, ULONG, ULONG, PVOID, PVOID)
{
    EngineAnswered("XFORMOBJ_bApplyXform");
    return FALSE;
}

ULONG APIENTRY HostXFORMOBJ_iGetXform(XFORMOBJ*, XFORML*)
{
    EngineAnswered("XFORMOBJ_iGetXform");
    return DDI_ERROR;
}
