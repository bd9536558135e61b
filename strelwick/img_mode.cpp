// img mode: every BMP file on stdin printed as one page, through GDI or,
// for a printer whose driver is not Wine's own, through the driver host.
#include "strelwick.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include "dib_layout.h"
#include "driver_host.h"
#include "page_reader.h"
#include "print_output.h"

static void LogDibHeader(const DibHeader* h)
{
    dbg_log("size-(%d*%d), plane:%d, bpp:%d, compress:%d\n"
            "                    pixel size:0x%x, resolution-(%d*%d), color-(%d,%d)\n",
        (int)h->biWidth, (int)h->biHeight, (int)h->biPlanes, (int)h->biBitCount,
        (int)h->biCompression, (unsigned)h->biSizeImage, (int)h->biXPelsPerMeter,
        (int)h->biYPelsPerMeter, (int)h->biClrUsed, (int)h->biClrImportant);
}

// Checks that the page buffer holds what its header describes, so that
// neither we nor StretchDIBits read past it. Returns 1 when it does.
static int CheckPageBuffer(
    const unsigned char* pDIB, uint32_t size, DibHeader* hdr, uint64_t* pixelOffset)
{
    uint64_t needed = 0;
    DibCheck check = DibCheckPage(pDIB, size, hdr, pixelOffset, &needed);
    switch (check) {
    case DIB_OK:
        LogDibHeader(hdr);
        return 1;
    case DIB_HEADER_TOO_SMALL:
        dbg_log("unsupported BMP file header.\n");
        return 0;
    case DIB_NO_HEADER:
        dbg_log("BMP file too short for its header: %lu of %llu bytes\n", (unsigned long)size,
            (unsigned long long)needed);
        return 0;
    case DIB_BAD_HEIGHT:
        LogDibHeader(hdr);
        dbg_log("BMP height out of range: %d\n", (int)hdr->biHeight);
        return 0;
    case DIB_SHORT:
        LogDibHeader(hdr);
        if (needed == UINT64_MAX)
            dbg_log("BMP file too short for its pixels: %lu bytes, header describes more "
                    "than 2^64\n",
                (unsigned long)size);
        else
            dbg_log("BMP file too short for its pixels: %lu of %llu bytes\n", (unsigned long)size,
                (unsigned long long)needed);
        return 0;
    }
    return 0;
}

int ReadBmpPage(PageReader* reader, const unsigned char* fileHeader, BmpPage* page)
{
    if (!BmpHasMagic(fileHeader)) {
        dbg_log("only BMP format supported\n");
        return 0;
    }
    dbg_log("BMP file size %d\n", (int)BmpFileSize(fileHeader));
    uint32_t dibSize = 0;
    if (!BmpBodySize(fileHeader, &dibSize)) {
        dbg_log("out of memory.\n");
        return 0;
    }
    unsigned char* pDIB = NULL;
    uint32_t got = 0;
    TakePageBody(reader, &pDIB, &got, &dibSize);
    if (!pDIB) {
        dbg_log("out of memory.\n");
        return 0;
    }
    if (got != dibSize) {
        dbg_log("BMP file corrupt %d-%d\n", (int)got, (int)dibSize);
        free(pDIB);
        return 0;
    }
    if (!CheckPageBuffer(pDIB, dibSize, &page->hdr, &page->pixelOffset)) {
        free(pDIB);
        return 0;
    }
    ReadNextPage(reader);
    page->dib = pDIB;
    page->height = page->hdr.biHeight < 0 ? -page->hdr.biHeight : page->hdr.biHeight;
    return 1;
}

int ReadFileHeader(PageReader* reader, unsigned char* fileHeader)
{
    if (TakeFileHeader(reader, fileHeader))
        return 1;
    dbg_log("read pipe error.\n");
    return 0;
}

// Prints one BMP file whose 14-byte file header has been read; its page has
// been started. Returns 1 to go on with the next file, 0 to end the document.
static int DrawBmpPage(HDC hdc, PageReader* reader, const unsigned char* fileHeader)
{
    BmpPage page;
    if (!ReadBmpPage(reader, fileHeader, &page))
        return 0;
    const DibHeader& hdr = page.hdr;
    int lines = StretchDIBits(hdc, 0, 0, hdr.biWidth, page.height, 0, 0, hdr.biWidth, page.height,
        page.dib + page.pixelOffset, (const BITMAPINFO*)page.dib, DIB_RGB_COLORS, SRCCOPY);
    if (lines == 0) {
        dbg_log("StretchDIBits failed: %d\n", LastError());
        free(page.dib);
        return 0;
    }
    dbg_log("copy %d scanline\n", lines);
    EndPage(hdc);
    free(page.dib);
    return 1;
}

// Prints every BMP file on stdin as one page. filename is not used: pages
// always come from stdin.
int DrawImageToPrinter(char* szPrinterName, char* filename)
{
    (void)filename;
    if (!szPrinterName) {
        dbg_log("no printer name: MODEL is not set and none was given\n");
        return 0;
    }
    DRIVER_INFO_3A* driver = NULL;
    if (FindOwnDriver(szPrinterName, &driver)) {
        StartOutputStream(szPrinterName);
        OutputHoldPages();
        int ok = HostPrintImages(szPrinterName, driver) && !OutputFailed();
        free(driver);
        return ok;
    }
    HDC hdc = StartPrinterDoc(szPrinterName, ADJUST_PAGE_OPTIONS);
    if (!hdc)
        return 0;
    PageReader* reader = StartPageReader();
    for (;;) {
        unsigned char fileHeader[kFileHeaderSize];
        if (!ReadFileHeader(reader, fileHeader))
            break;
        if (!StartPrinterPage(hdc)) {
            StopPageReader(reader);
            return 0;
        }
        if (!DrawBmpPage(hdc, reader, fileHeader))
            break;
        if (OutputFailed()) {
            StopPageReader(reader);
            AbortDoc(hdc);
            return 0;
        }
    }
    StopPageReader(reader);
    EndDoc(hdc);
    return !OutputFailed();
}
