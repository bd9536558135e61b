// strelwick: prints onto a Windows printer through the spooler and GDI.
// What the print tool's files share: messages, printer DC setup and the modes.
//
// Exit code: 1 on success, 0 on failure or an unknown mode, -1 without a mode.
// stdout carries printer data (a "|cat" port writes there), so every message
// goes to stderr.
#ifndef STRELWICK_H
#define STRELWICK_H

#include <windows.h>
#include <winspool.h>

#include "dib_layout.h"

extern const char kDefaultPrinter[];

// One message on stderr, flushed at once.
__attribute__((format(printf, 1, 2))) void dbg_log(const char* fmt, ...);
int LastError(void);

// Writes one line to stderr and ends the process with a fixed code on any
// unhandled exception.
void InstallCrashGuard(void);

// How StartPrinterDoc adjusts the driver's device mode: the copies rule of
// the manual modes, or the job's options from the environment (img mode).
enum DevModeAdjust { ADJUST_COPIES, ADJUST_PAGE_OPTIONS };
void DumpPrinterCaps(DWORD flags);
// The job's options (PAGESIZE, DPI, DUPLEX, INPUTBIN, COLOR, MEDIATYPE,
// COPIES, COLLATE) put into the driver's device mode of `size` bytes, each
// only where its dmFields has the field. With `merge`, the driver takes
// them through DocumentProperties and the result replaces `mode`; a value
// it does not take is refused. Returns 0 after one line saying which.
int ApplyJobOptions(HANDLE h, LPSTR name, DEVMODEA* mode, LONG size, int merge);
int ApplyJobOptionsW(
    HANDLE h, const char* printer, LPWSTR name, DEVMODEW* mode, LONG size, int merge);
// A value as a message may show it: printable ASCII of at most 32 bytes.
const char* ShownValue(const char* v);
// GPDOPTIONS (gpd_choices.cpp): the job's choices for a GPD minidriver on
// our own core into the options text of `mode`'s private part, and whether
// the driver kept each one in `out`. 0 after one line saying why not (a
// printer not on our core has no such part).
int PutGpdChoices(const char* printer, DEVMODEW* mode, const char* job);
int PutGpdChoices(const char* printer, DEVMODEA* mode, const char* job);
int KeptGpdChoices(const char* printer, DEVMODEW* out, const char* job);
int KeptGpdChoices(const char* printer, DEVMODEA* out, const char* job);
// DocumentProperties(DM_IN_BUFFER | DM_OUT_BUFFER) from `in` into `out`,
// both `size` bytes.
LONG MergeDevModeW(HANDLE h, LPWSTR name, DEVMODEW* out, DEVMODEW* in, LONG size);
// The document name: DOCNAME (UTF-8) or "My Document".
void JobDocumentName(WCHAR* out, int chars);
HDC StartPrinterDoc(LPSTR szPrinterName, DevModeAdjust adjust);
int StartPrinterPage(HDC hdc);

// The BMP page stream of img mode: a 14-byte file header, then the rest of
// the file, taken from a PageReader (page_reader.h). ReadFileHeader returns 0
// at the end of the input; ReadBmpPage takes and checks one page, and returns
// 0 after logging why it is bad.
enum { kFileHeaderSize = 14 };
struct PageReader;
struct BmpPage {
    unsigned char* dib; // info header, masks, colours, pixels; free() it
    DibHeader hdr;
    uint64_t pixelOffset;
    int height;
};
int ReadFileHeader(PageReader* reader, unsigned char* fileHeader);
int ReadBmpPage(PageReader* reader, const unsigned char* fileHeader, BmpPage* page);

// The modes.
int DrawImageToPrinter(char* szPrinterName, char* filename);
BOOL EmfToPrinter(LPSTR szPrinterName, LPBYTE lpData, DWORD dwCount);
BOOL RawDataToPrinter(LPSTR szPrinterName, LPBYTE lpData, DWORD dwCount, LPSTR data_type);
BOOL DrawTextToPrinter(LPSTR szPrinterName, LPCSTR lpData, DWORD dwCount);
BOOL DrawRectToPrinter(LPSTR szPrinterName, int left, int top, int right, int bottom);
BOOL DrawPolyToPrinter(LPSTR szPrinterName, const POINT* pts, int count);
// The driver's capabilities as KEY=VALUE lines on stdout.
int ListCapabilities(const char* printer);
// DeviceCapabilities for a printer, answered by its own configuration DLL
// with a real printer handle when it has one (printer_caps.cpp).
int PrinterCapabilitiesW(const char* printer, WORD cap, void* out);
int PrinterCapabilitiesA(const char* printer, WORD cap, void* out);
// The GPD features of a printer on our own Unidrv core, as its
// configuration DLL's TessalGpdOptions lists them (a fresh string, free()
// it); NULL for any other printer.
WCHAR* PrinterGpdOptions(const char* printer);

#endif
