// A plug-in's work in a job: the commands the GPD leaves to it
// (CommandCallback), each raster block handed over instead of written
// (FilterGraphics), its own compression (Compression), and whole bands
// (ImageProcessing) when the colour mode names an *IPCallbackID.
//
// ImageProcessing gets each band as a bottom-up DIB (positive biHeight,
// rows padded to 4 bytes) in the colour mode's *DrvBPP, with its colour
// table (8 bits: grey levels, made from the 24-bit surface).  A bitmap it returns is read in the same
// layout and goes on through the raster printer; a returned TRUE (or no
// bitmap) means it sent the band itself.
#include "core.h"

#include <string.h>

static CorePdev* Of(void* ctx)
{
    return (CorePdev*)ctx;
}

static int FirstWith(const CorePdev* p, CoreMethod m)
{
    for (int i = 0; i < p->pluginCount; i++)
        if (CoreImplements(p, i, m))
            return i;
    return -1;
}

static bool Command(void* ctx, gpd_job*, long id, const long* params, int count, std::string* err)
{
    CorePdev* p = Of(ctx);
    int i = FirstWith(p, CM_CommandCallback);
    DWORD values[64];
    if (count < 0 || count > 64) {
        *err = "a callback command has more than 64 parameters";
        return false;
    }
    for (int k = 0; k < count; k++)
        values[k] = (DWORD)params[k];
    INT result = 0;
    TessalOemUni* u = p->plugins[i].uni;
    CoreSelect(p, i);
    if (u->lpVtbl->CommandCallback(u, &p->devobj, (DWORD)id, (DWORD)count, values, &result) != S_OK) {
        *err = "the plug-in failed CommandCallback " + std::to_string(id);
        return false;
    }
    return !p->failed;
}

static bool Filter(void* ctx, gpd_job*, const unsigned char* data, size_t len, std::string* err)
{
    CorePdev* p = Of(ctx);
    int i = FirstWith(p, CM_FilterGraphics);
    std::vector<unsigned char> copy(data, data + len);
    TessalOemUni* u = p->plugins[i].uni;
    CoreSelect(p, i);
    if (u->lpVtbl->FilterGraphics(u, &p->devobj, copy.data(), (DWORD)len) != S_OK) {
        *err = "the plug-in failed FilterGraphics";
        return false;
    }
    return !p->failed;
}

static long Compress(void* ctx, const unsigned char* in, size_t len, unsigned char* out, size_t cap)
{
    CorePdev* p = Of(ctx);
    int i = FirstWith(p, CM_Compression);
    std::vector<unsigned char> copy(in, in + len);
    INT result = -1;
    TessalOemUni* u = p->plugins[i].uni;
    CoreSelect(p, i);
    if (u->lpVtbl->Compression(u, &p->devobj, copy.data(), out, (DWORD)len, (DWORD)cap, &result) != S_OK
        || result < 0 || (size_t)result > cap)
        return -1;
    return result;
}

void CoreInitRender(CorePdev* p)
{
    p->hooks = gpd_plugin();
    p->hooks.ctx = p;
    if (FirstWith(p, CM_CommandCallback) >= 0)
        p->hooks.command = Command;
    if (FirstWith(p, CM_FilterGraphics) >= 0)
        p->hooks.filter = Filter;
    if (FirstWith(p, CM_Compression) >= 0)
        p->hooks.compress = Compress;
}

// ---- Bands -----------------------------------------------------------------------------

// Rows of bpp bits a pixel, step bytes apart, into the raster printer.
static bool SendRows(
    CorePdev* p, int bpp, const unsigned char* first, LONG_PTR step, long rows, std::string* err)
{
    for (long r = 0; r < rows; r++)
        if (!gpd_page_row(&p->job, CoreRow(p, bpp, first + r * step), err))
            return false;
    return true;
}

// A surface row as a row of the ImageProcessing band (8 bits: grey of the
// 24-bit surface); whether it is white.
static bool DibRow(const CorePdev* p, const unsigned char* src, unsigned char* dst, size_t used)
{
    bool white = true;
    if (p->dibBpp == 8) {
        for (long x = 0; x < p->dev.bitmap_w; x++) {
            const unsigned char* px = src + 3 * x; // blue, green, red
            dst[x] = (unsigned char)((px[2] * 77 + px[1] * 151 + px[0] * 28) >> 8);
            white = white && dst[x] == 0xFF;
        }
        return white;
    }
    memcpy(dst, src, used);
    unsigned char blank = p->dibBpp == 24 ? 0xFF : 0x00;
    for (size_t k = 0; white && k < used; k++)
        white = dst[k] == blank;
    return white;
}

// The colour table of the surface's format, as RGBQUADs.
static int ColorTable(int bpp, RGBQUAD* t)
{
    int n = bpp == 1 ? 2 : bpp == 4 ? 16 : bpp == 8 ? 256 : 0;
    for (int i = 0; i < n; i++) {
        BYTE r, g, b;
        if (bpp == 1) {
            r = g = b = i ? 0 : 0xFF;
        } else if (bpp == 4) {
            r = i & 1 ? 0 : 0xFF;
            g = i & 2 ? 0 : 0xFF;
            b = i & 4 ? 0 : 0xFF;
        } else {
            r = g = b = (BYTE)i;
        }
        t[i].rgbRed = r;
        t[i].rgbGreen = g;
        t[i].rgbBlue = b;
        t[i].rgbReserved = 0;
    }
    return n;
}

static bool Processed(CorePdev* p, SURFOBJ* so, long top, long rows, std::string* err)
{
    long w = p->dev.bitmap_w;
    int bpp = p->dibBpp;
    size_t stride = ((size_t)w * bpp + 31) / 32 * 4, used = ((size_t)w * bpp + 7) / 8;
    std::vector<unsigned char> dib(stride * rows);
    BOOL blank = TRUE;
    for (long r = 0; r < rows; r++) {
        const unsigned char* src = (const unsigned char*)so->pvScan0 + (LONG_PTR)r * so->lDelta;
        if (!DibRow(p, src, &dib[stride * (rows - 1 - r)], used))
            blank = FALSE;
    }
    BITMAPINFOHEADER bih;
    memset(&bih, 0, sizeof(bih));
    bih.biSize = sizeof(bih);
    bih.biWidth = w;
    bih.biHeight = rows;
    bih.biPlanes = 1;
    bih.biBitCount = (WORD)bpp;
    bih.biCompression = BI_RGB;
    bih.biSizeImage = (DWORD)dib.size();
    bih.biXPelsPerMeter = (LONG)(p->dev.dpi_x * 10000 / 254);
    bih.biYPelsPerMeter = (LONG)(p->dev.dpi_y * 10000 / 254);
    RGBQUAD table[256];
    bih.biClrUsed = bih.biClrImportant = (DWORD)ColorTable(bpp, table);
    char halftone[64] = "";
    lstrcpynA(halftone, gpd_chosen(&p->doc, &p->config, "Halftone").c_str(), sizeof(halftone));
    OEM_IPPARAMS ipp;
    memset(&ipp, 0, sizeof(ipp));
    ipp.dwSize = sizeof(ipp);
    ipp.ptOffset.x = 0;
    ipp.ptOffset.y = top;
    ipp.pHalftoneOption = halftone[0] ? halftone : NULL;
    ipp.bBanding = TRUE;
    ipp.bBlankBand = blank;
    PBYTE result = NULL;
    TessalOemUni* u = p->plugins[p->ipPlugin].uni;
    CoreSelect(p, p->ipPlugin);
    HRESULT hr = u->lpVtbl->ImageProcessing(u, &p->devobj, dib.data(), &bih,
        bih.biClrUsed ? (PBYTE)table : NULL, (DWORD)p->ipCallback, &ipp, &result);
    if (hr != S_OK || p->failed) {
        *err = "the plug-in failed ImageProcessing for the band at row " + std::to_string(top);
        return false;
    }
    if ((ULONG_PTR)result <= 1) {
        // The plug-in sent the band itself.
        p->job.row += rows;
        return true;
    }
    return SendRows(p, bpp, result + stride * (rows - 1), -(LONG_PTR)stride, rows, err);
}

bool CoreSendBand(CorePdev* p, SURFOBJ* so, long top, long rows, std::string* err)
{
    if (p->ipPlugin >= 0)
        return Processed(p, so, top, rows, err);
    return SendRows(p, p->bpp, (const unsigned char*)so->pvScan0, so->lDelta, rows, err);
}
