// Printer data straight to the print tool's stdout, page by page.
//
// Wine's spooler keeps a RAW job's data in spool/printers/*.SPL in the
// prefix and hands it to the port only at EndDocPrinter. For a printer whose
// port is "|cat" (the port's output is this process's stdout) the driver's
// WritePrinter calls are bound to OutputWritePrinter instead, which writes
// each call's bytes to stdout at once. The spooler job stays (drivers may
// ask the spooler about it) and ends empty.
#ifndef STRELWICK_PRINT_OUTPUT_H
#define STRELWICK_PRINT_OUTPUT_H

#include <windows.h>

// Turns streaming on when the printer's port is "|cat". Returns 1 when on.
int StartOutputStream(const char* printer);
// What a module importing dll!name should be bound to instead: our writer
// for WINSPOOL's WritePrinter, else NULL.
void* StreamedImport(const char* dll, const char* name);
// Rebinds an already loaded module's WINSPOOL WritePrinter import to our
// writer. Returns the number of slots rebound.
int StreamModuleOutput(HMODULE mod);
// WritePrinter's contract: onto stdout while streaming, else through the
// spooler. A failed write is logged with its cause and place, and every
// later call fails too, so that no later page follows a cut one.
BOOL WINAPI OutputWritePrinter(HANDLE printer, LPVOID data, DWORD size, LPDWORD written);
// Whether a write to stdout has failed (its message is already logged).
int OutputFailed(void);
// From here on, while streaming, each page's data is held in memory until
// OutputPageDone, so that a page the driver fails is never sent half-done.
// A page whose data outgrows 64 MiB is sent on as it comes.
void OutputHoldPages(void);
// Sends what the page (or the document's end) wrote. Returns 0 when a write
// has failed.
int OutputPageDone(void);

#endif
