// Printer and device-context setup: the driver's device mode, adjusted for
// the mode, the printer DC and its document and pages.
#include "strelwick.h"

#include "print_output.h"

#include <stdlib.h>
#include <string.h>

static const LONG kPublicDevModeSize = 156;
static const short kCopies = 3;

static_assert(sizeof(DEVMODEA) == 156, "public DEVMODEA is 156 bytes in a 32-bit build");

static const char* const g_dms[30] = {"DM_ORIENTATION", "DM_PAPERSIZE", "DM_PAPERLENGTH",
    "DM_PAPERWIDTH", "DM_SCALE", "DM_POSITION", "DM_NUP", "DM_DISPLAYORIENTATION", "DM_COPIES",
    "DM_DEFAULTSOURCE", "DM_PRINTQUALITY", "DM_COLOR", "DM_DUPLEX", "DM_YRESOLUTION", "DM_TTOPTION",
    "DM_COLLATE", "DM_FORMNAME", "DM_LOGPIXELS", "DM_BITSPERPEL", "DM_PELSWIDTH", "DM_PELSHEIGHT",
    "DM_DISPLAYFLAGS", "DM_DISPLAYFREQUENCY", "DM_ICMMETHOD", "DM_ICMINTENT", "DM_MEDIATYPE",
    "DM_DITHERTYPE", "DM_PANNINGWIDTH", "DM_PANNINGHEIGHT", "DM_DISPLAYFIXEDOUTPUT"};

void DumpPrinterCaps(DWORD flags)
{
    for (int i = 0; i < 30; i++) {
        DWORD mask = (DWORD)1 << i;
        if (flags & mask)
            dbg_log("\t%s\n", g_dms[i]);
    }
}

// Copies rule: a driver that reports DM_COPIES prints these documents 3 times.
static void ApplyCopies(HANDLE hPrinter, LPSTR szPrinterName, DEVMODEA* modeOut)
{
    if (!(modeOut->dmFields & DM_COPIES))
        return;
    modeOut->dmCopies = kCopies;
    modeOut->dmFields |= DM_COPIES;
    DocumentPropertiesA(
        NULL, hPrinter, szPrinterName, modeOut, modeOut, DM_IN_BUFFER | DM_OUT_BUFFER);
}

// Opens the printer, fetches and adjusts its device mode, creates the printer
// DC and starts a document on it. Returns the DC, or NULL after logging why.
HDC StartPrinterDoc(LPSTR szPrinterName, DevModeAdjust adjust)
{
    HANDLE hPrinter = NULL;
    if (!OpenPrinterA(szPrinterName, &hPrinter, NULL)) {
        dbg_log("failed to open printer:%s,error=%d\n", szPrinterName, LastError());
        return NULL;
    }
    LONG modeSize = DocumentPropertiesA(NULL, hPrinter, szPrinterName, NULL, NULL, 0);
    if (modeSize < kPublicDevModeSize) {
        ClosePrinter(hPrinter);
        dbg_log("faile to call DocumentProperties(%s), error=%d\n", szPrinterName, LastError());
        return NULL;
    }
    dbg_log("%s,DEVMODE-size=%d, DriverExtralSize=%d\n", szPrinterName, (int)kPublicDevModeSize,
        (int)(modeSize - kPublicDevModeSize));
    DEVMODEA* modeOut = (DEVMODEA*)calloc(1, (size_t)modeSize);
    if (!modeOut) {
        ClosePrinter(hPrinter);
        dbg_log(
            "out of memory for the device mode of %s (%d bytes)\n", szPrinterName, (int)modeSize);
        return NULL;
    }
    int fetched = DocumentPropertiesA(NULL, hPrinter, szPrinterName, modeOut, NULL, DM_OUT_BUFFER);
    if (fetched)
        DumpPrinterCaps(modeOut->dmFields);
    else
        dbg_log("failed to call DocumentProperties(%s),error=%d\n", szPrinterName, LastError());
    int ok = 1;
    if (adjust == ADJUST_COPIES)
        ApplyCopies(hPrinter, szPrinterName, modeOut);
    else
        ok = ApplyJobOptions(hPrinter, szPrinterName, modeOut, modeSize, fetched > 0);
    ClosePrinter(hPrinter);
    if (!ok) {
        free(modeOut);
        return NULL;
    }

    HDC hdc = CreateDCA(NULL, szPrinterName, NULL, modeOut);
    free(modeOut);
    if (!hdc) {
        dbg_log("failed to CreateDC:%d\n", LastError());
        return NULL;
    }
    // wineps is loaded now; from StartDoc on its writes go to our writer,
    // which skips the spool file for a "|cat" port.
    StartOutputStream(szPrinterName);
    StreamModuleOutput(GetModuleHandleA("wineps.drv"));
    if (adjust == ADJUST_PAGE_OPTIONS)
        dbg_log("CreateDC got hdc=%08x\n", (unsigned)(UINT_PTR)hdc);
    WCHAR docName[256];
    JobDocumentName(docName, 256);
    DOCINFOW DocInfo;
    memset(&DocInfo, 0, sizeof(DocInfo));
    DocInfo.cbSize = sizeof(DocInfo);
    DocInfo.lpszDocName = docName;
    DocInfo.lpszOutput = NULL;
    DocInfo.lpszDatatype = L"RAW";
    DocInfo.fwType = 0;
    if (StartDocW(hdc, &DocInfo) <= 0) {
        dbg_log("failed to call StartDoc:%d\n", LastError());
        DeleteDC(hdc);
        return NULL;
    }
    return hdc;
}

// Starts a page; on failure the document is ended first.
int StartPrinterPage(HDC hdc)
{
    if (StartPage(hdc) > 0)
        return 1;
    EndDoc(hdc);
    dbg_log("failed to call StartPage:%d\n", LastError());
    return 0;
}
