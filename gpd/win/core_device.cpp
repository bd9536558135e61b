// The device the chosen options make, as the engine sees it: GDIINFO and
// DEVINFO, the palette and halftone format of the surface, and the surface
// itself, an engine bitmap drawn one band at a time.
//
// Surface formats, by what the device takes:
//   1 bpp   (1 bit, one plane) index 1 is black (the engine halftones, CMY
//           order): the raster printer's own 1-bit rows;
//   4 bpp   (1 bit, 3 or 4 planes) index bits are cyan, magenta and yellow
//           (engine halftone);
//   24 bpp  BGR, for everything else; the raster printer dithers as the
//           device needs.
// A colour mode's *DrvBPP, when given, picks the surface (1, 4, else 24)
// and the format of the bands a plug-in's ImageProcessing gets (8 bits:
// grey from the 24-bit surface).
#include "core.h"

#include "unidrv_map.h"

#include <string.h>

#include <algorithm>

#include "gpd_value.h"

// The surface holds at most about this many bytes at a time.
static const long kBandBytes = 4 << 20;

static long Pixels(long master, long dpi, long unitsPerInch)
{
    return unitsPerInch > 0 ? master * dpi / unitsPerInch : 0;
}

static void SurfaceFormat(CorePdev* p)
{
    long drv = 0;
    const gpd_entry* e = gpd_option_attr(&p->doc, &p->config, "ColorMode", "DrvBPP");
    if (e && gpd_int(e->value, &drv) && (drv == 1 || drv == 4 || drv == 8 || drv == 24))
        p->dibBpp = (int)drv;
    else if (p->dev.bpp == 1)
        p->dibBpp = p->dev.planes == 1 ? 1 : 4;
    else
        p->dibBpp = 24;
    p->bpp = p->dibBpp == 8 ? 24 : p->dibBpp;
}

// Whether a command of the GPD tells the printer the number of copies
// (NumOfCopies in its string or its *Params).
static bool MakesCopies(const std::vector<gpd_entry>& entries)
{
    for (const gpd_entry& e : entries) {
        gpd_command c;
        std::string why;
        if (e.key == "Command" && gpd_command_read(e, &c, &why)
            && (c.body.find("NumOfCopies") != std::string::npos
                || std::find(c.params.begin(), c.params.end(), (int)GV_NumOfCopies) != c.params.end()))
            return true;
        if (MakesCopies(e.kids))
            return true;
    }
    return false;
}

bool CoreReadOptions(CorePdev* p, const DEVMODEW* dm, std::string* err)
{
    char path[MAX_PATH * 2];
    if (!WideCharToMultiByte(CP_ACP, 0, p->gpdPath.c_str(), -1, path, sizeof(path), NULL, NULL)) {
        *err = "the GPD's path cannot be read";
        return false;
    }
    if (!gpd_load(path, &p->doc, err))
        return false;
    // The defaults, then our private part's options, then the public fields.
    if (!UnidrvConfigFromDm(&p->doc, dm, &p->config, err))
        return false;
    if (!gpd_device_setup(&p->doc, &p->config, &p->dev, err))
        return false;
    if (p->dev.master_x % p->dev.dpi_x || p->dev.master_y % p->dev.dpi_y) {
        *err = p->doc.path + ": the resolution does not divide the master units";
        return false;
    }
    p->copies = 1;
    if (dm && (dm->dmFields & DM_COPIES) && dm->dmCopies > 1)
        p->copies = dm->dmCopies > 999 ? 999 : dm->dmCopies;
    p->repeatPages = p->copies > 1 && !MakesCopies(p->doc.root);
    SurfaceFormat(p);
    return true;
}

static HPALETTE MakePalette(int bpp)
{
    ULONG colors[16];
    if (bpp == 1) {
        colors[0] = 0xFFFFFF;
        colors[1] = 0;
        return EngCreatePalette(PAL_INDEXED, 2, colors, 0, 0, 0);
    }
    if (bpp == 4) {
        for (ULONG i = 0; i < 16; i++)
            colors[i] = (i & 1 ? 0 : 0xFF) | (i & 2 ? 0 : 0xFF00) | (i & 4 ? 0 : 0xFF0000);
        return EngCreatePalette(PAL_INDEXED, 16, colors, 0, 0, 0);
    }
    return EngCreatePalette(PAL_BGR, 0, NULL, 0, 0, 0);
}

// The engine's halftone pattern for the chosen Halftone option: its
// standard names are the pattern sizes; others (and AUTO) get 8x8.
static ULONG PatternSize(const CorePdev* p)
{
    static const char* const kNames[] = {"2x2", "2x2_M", "4x4", "4x4_M", "6x6", "6x6_M", "8x8",
        "8x8_M", "10x10", "10x10_M", "12x12", "12x12_M", "14x14", "14x14_M", "16x16", "16x16_M",
        "SUPERCELL", "SUPERCELL_M"};
    std::string option = gpd_chosen(&p->doc, &p->config, "Halftone");
    for (ULONG i = 0; i < sizeof(kNames) / sizeof(kNames[0]); i++)
        if (gpd_same(option.c_str(), ("HT_PATSIZE_" + std::string(kNames[i])).c_str()))
            return HT_PATSIZE_2x2 + i;
    return HT_PATSIZE_8x8_M;
}

void CoreFillGdiInfo(CorePdev* p, GDIINFO* gdi, DEVINFO* di)
{
    const gpd_device& d = p->dev;
    memset(gdi, 0, sizeof(*gdi));
    gdi->ulVersion = GDI_DRIVER_VERSION;
    gdi->ulTechnology = DT_RASPRINTER;
    gdi->ulHorzSize = (ULONG)(d.area_w * 254 / (d.master_x * 10));
    gdi->ulVertSize = (ULONG)(d.area_h * 254 / (d.master_y * 10));
    gdi->ulHorzRes = (ULONG)d.bitmap_w;
    gdi->ulVertRes = (ULONG)d.bitmap_h;
    gdi->cBitsPixel = (ULONG)p->bpp;
    gdi->cPlanes = 1;
    gdi->ulNumColors = p->bpp <= 4 ? 1u << p->bpp : (ULONG)-1;
    gdi->ulLogPixelsX = (ULONG)d.dpi_x;
    gdi->ulLogPixelsY = (ULONG)d.dpi_y;
    gdi->ulAspectX = (ULONG)d.dpi_y;
    gdi->ulAspectY = (ULONG)d.dpi_x;
    gdi->ulAspectXY = (ULONG)(d.dpi_x > d.dpi_y ? d.dpi_x : d.dpi_y) * 141 / 100;
    gdi->xStyleStep = gdi->yStyleStep = 1;
    gdi->denStyleStep = (ULONG)(d.dpi_x / 50 > 0 ? d.dpi_x / 50 : 1);
    gdi->szlPhysSize.cx = Pixels(d.paper_w, d.dpi_x, d.master_x);
    gdi->szlPhysSize.cy = Pixels(d.paper_h, d.dpi_y, d.master_y);
    gdi->ptlPhysOffset.x = Pixels(d.origin_x, d.dpi_x, d.master_x);
    gdi->ptlPhysOffset.y = Pixels(d.origin_y, d.dpi_y, d.master_y);
    gdi->ulDevicePelsDPI = (ULONG)d.dpi_x;
    gdi->ulPrimaryOrder = PRIMARY_ORDER_CBA;
    gdi->ulHTPatternSize = PatternSize(p);
    gdi->ulHTOutputFormat = p->bpp == 1 ? HT_FORMAT_1BPP
        : p->bpp == 4                   ? HT_FORMAT_4BPP
                                        : HT_FORMAT_24BPP;
    // CMY: index bits are inks, so index 1 of a 1-bit surface is black, as
    // the raster printer takes it.
    gdi->flHTFlags = HT_FLAG_HAS_BLACK_DYE | (p->bpp <= 4 ? HT_FLAG_OUTPUT_CMY : 0);
    memset(di, 0, sizeof(*di));
    di->flGraphicsCaps = p->bpp <= 4 ? GCAPS_HALFTONE : 0;
    di->iDitherFormat = p->bpp == 1 ? BMF_1BPP : p->bpp == 4 ? BMF_4BPP : BMF_24BPP;
    di->cxDither = di->cyDither = 8;
    if (!p->pal)
        p->pal = MakePalette(p->bpp);
    di->hpalDefault = p->pal;
}

HSURF CoreMakeSurface(CorePdev* p)
{
    long stride = ((long)p->dev.bitmap_w * p->bpp + 31) / 32 * 4;
    long rows = kBandBytes / stride;
    rows = rows < 1 ? 1 : rows > p->dev.bitmap_h ? p->dev.bitmap_h : rows;
    if (p->bandRows > 0 && p->bandRows < rows)
        rows = p->bandRows; // a plug-in's MemoryUsage asked for less
    p->bandRows = rows;
    p->rowBuf.assign((size_t)p->dev.bitmap_w * 3 + 4, 0);
    SIZEL size = {p->dev.bitmap_w, rows};
    ULONG fmt = p->bpp == 1 ? BMF_1BPP : p->bpp == 4 ? BMF_4BPP : BMF_24BPP;
    HSURF h = (HSURF)EngCreateBitmap(size, stride, fmt, BMF_TOPDOWN, NULL);
    if (!h) {
        CoreLog("DrvEnableSurface: no band of %ldx%ld pixels", p->dev.bitmap_w, rows);
        return NULL;
    }
    if (!EngAssociateSurface(h, p->hdev, 0) || !EngMarkBandingSurface(h)) {
        CoreLog("DrvEnableSurface: the engine refused the band surface");
        EngDeleteSurface(h);
        return NULL;
    }
    p->hsurf = h;
    return h;
}

int CoreInBpp(int bpp)
{
    return bpp == 1 || bpp == 8 ? bpp : 24;
}

int CorePageBpp(const CorePdev* p)
{
    return CoreInBpp(p->ipPlugin >= 0 ? p->dibBpp : p->bpp);
}

const unsigned char* CoreRow(CorePdev* p, int bpp, const unsigned char* row)
{
    if (bpp == 1 || bpp == 8)
        return row;
    unsigned char* out = p->rowBuf.data();
    long w = p->dev.bitmap_w;
    if (bpp == 24) {
        for (long x = 0; x < w; x++) {
            out[3 * x] = row[3 * x + 2];
            out[3 * x + 1] = row[3 * x + 1];
            out[3 * x + 2] = row[3 * x];
        }
        return out;
    }
    for (long x = 0; x < w; x++) {
        unsigned v = row[x >> 1] >> (x & 1 ? 0 : 4) & 0xF;
        out[3 * x] = v & 1 ? 0 : 0xFF;
        out[3 * x + 1] = v & 2 ? 0 : 0xFF;
        out[3 * x + 2] = v & 4 ? 0 : 0xFF;
    }
    return out;
}
