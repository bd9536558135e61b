// strelwick: prints onto a Windows printer through the spooler and GDI.
//
//   strelwick.exe img [ignored] [printer]        BMP pages from stdin (printer: MODEL)
//   strelwick.exe emf <file> [printer]           play an EMF file on one page
//   strelwick.exe emf <file> <printer> <type>    hand the file to the spooler as is
//   strelwick.exe rect|poly [printer]            test pages: a square, a star
//   strelwick.exe text [printer] [text]          test page: one line of text
//   strelwick.exe caps [printer]                 what the driver can do, as KEY=VALUE
//                                                lines on stdout (printer: MODEL)
//
// Exit code: 1 on success, 0 on failure or an unknown mode, -1 without a mode.
// stdout carries printer data (a "|cat" port writes there), so every message
// goes to stderr.
#include "strelwick.h"

#include "print_output.h"

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

const char kDefaultPrinter[] = "Vodidez VUZA Converter";

static const POINT g_starPoints[11] = {{495, 55}, {514, 55}, {520, 40}, {526, 55}, {550, 55},
    {530, 65}, {540, 85}, {520, 72}, {500, 85}, {510, 65}, {495, 55}};

// Reads the whole spool file into one block. Returns 1 with *data and *nSize
// set, or 0 after logging why.
static int LoadSpoolerFile(const char* fileName, LPBYTE* data, DWORD* nSize)
{
    const char* shown = fileName ? fileName : "";
    HANDLE hFile = CreateFileA(fileName, FILE_READ_DATA, FILE_SHARE_READ, NULL, OPEN_EXISTING,
        FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile == INVALID_HANDLE_VALUE) {
        dbg_log("SpoolerData::LoadSpoolerFile - cannot open '%s'", shown);
        return 0;
    }
    DWORD high = 0;
    DWORD size = GetFileSize(hFile, &high);
    if (size == INVALID_FILE_SIZE) {
        dbg_log("SpoolerData::LoadSpoolerFile - cannot get size of '%s'", shown);
        CloseHandle(hFile);
        return 0;
    }
    // The byte count handed on is 32 bits wide: a larger file would be cut.
    if (high != 0) {
        dbg_log("SpoolerData::LoadSpoolerFile - '%s' is 4 GiB or larger", shown);
        CloseHandle(hFile);
        return 0;
    }
    LPBYTE buf = (LPBYTE)malloc(size ? size : 1);
    if (!buf) {
        dbg_log("SpoolerData::LoadSpoolerFile - cannot allocate %lu bytes for '%s'",
            (unsigned long)size, shown);
        CloseHandle(hFile);
        return 0;
    }
    DWORD dwRead = 0;
    if (!ReadFile(hFile, buf, size, &dwRead, NULL) || dwRead != size) {
        dbg_log("SpoolerData::LoadSpoolerFile - cannot read '%s'", shown);
        CloseHandle(hFile);
        free(buf);
        return 0;
    }
    CloseHandle(hFile);
    *data = buf;
    *nSize = size;
    return 1;
}

static int RunEmfMode(int argc, char** argv)
{
    LPBYTE data = NULL;
    DWORD nSize = 0;
    if (!LoadSpoolerFile(argc > 2 ? argv[2] : NULL, &data, &nSize))
        return 0;
    if (argc >= 5)
        return RawDataToPrinter(argv[3], data, nSize, argv[4]);
    if (argc == 4)
        return EmfToPrinter(argv[3], data, nSize);
    return EmfToPrinter((LPSTR)kDefaultPrinter, data, nSize);
}

static int RunMode(int argc, char** argv)
{
    const char* mode = argv[1];
#ifdef STRELWICK_CRASH_PROBE
    // Test build only: proves that a crash leaves stdout untouched.
    if (strcmp(mode, "crash") == 0)
        *(volatile int*)NULL = 1;
#endif
    if (strcmp(mode, "emf") == 0)
        return RunEmfMode(argc, argv);
    if (strcmp(mode, "img") == 0)
        return DrawImageToPrinter(
            argc >= 4 ? argv[3] : getenv("MODEL"), argc >= 3 ? argv[2] : NULL);

    if (strcmp(mode, "caps") == 0) {
        const char* model = getenv("MODEL");
        return ListCapabilities(argc >= 3 ? argv[2] : model ? model : kDefaultPrinter);
    }

    LPSTR printer_name = argc == 2 ? (LPSTR)kDefaultPrinter : argv[2];
    if (strcmp(mode, "rect") == 0)
        return DrawRectToPrinter(printer_name, 100, 100, 500, 500);
    if (strcmp(mode, "poly") == 0) {
        POINT pts[11];
        memcpy(pts, g_starPoints, sizeof(pts));
        return DrawPolyToPrinter(printer_name, pts, 11);
    }
    if (strcmp(mode, "text") == 0) {
        if (argc >= 4)
            return DrawTextToPrinter(printer_name, argv[3], (DWORD)strlen(argv[3]));
        return DrawTextToPrinter(printer_name, "hello world", 11);
    }
    return 0;
}

int main(int argc, char** argv)
{
    InstallCrashGuard();
    // Messages are read on Linux: no "\r\n" line ends.
    _setmode(_fileno(stderr), _O_BINARY);
    if (argc < 2) {
        dbg_log("usage: emf/rect/poly/text [emf-file-name] [printer-name] [data-type]\n");
        return -1;
    }
    dbg_log("strelwick get called.\n");
    int rc = RunMode(argc, argv);
    // A mode that drew everything still failed when its output was cut.
    return OutputFailed() ? 0 : rc;
}
