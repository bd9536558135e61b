// tessal-addprinter: installs a printer driver and adds a printer that uses
// it on a given port. The driver is Wine's PostScript driver with a PPD, or,
// given its two DLLs, a vendor's driver with its data file and any further
// files it needs (a minidriver's included GPD files, .ini and plug-ins),
// which the spooler copies into the driver folder and lists as the driver's
// dependent files.
//
//   tessal-addprinter.exe <driver-name> <ppd-windows-path> <printer-name> <port>
//   tessal-addprinter.exe <driver-name> <data-file> <printer-name> <port>
//                         <rendering-dll> <configuration-dll> [<dependent-file>...]
//
// Exit 0 when the driver and the printer exist afterwards (also when they were
// already there); otherwise a message on stderr and a non-zero exit.
// Nothing is written to stdout.
#include <windows.h>
#include <winspool.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { EXIT_USAGE = 2, EXIT_PPD = 3, EXIT_DRIVER = 4, EXIT_PRINTER = 5 };

// Without DLLs the driver is Wine's PostScript driver and the data file a PPD.
// The dependent files as the spooler takes them: each name NUL-terminated,
// one more NUL at the end. NULL for none.
static char* DependentList(int count, char** names)
{
    if (count <= 0)
        return NULL;
    size_t total = 1;
    for (int i = 0; i < count; i++)
        total += strlen(names[i]) + 1;
    char* list = (char*)calloc(1, total);
    if (!list)
        return NULL;
    char* p = list;
    for (int i = 0; i < count; i++) {
        size_t n = strlen(names[i]) + 1;
        memcpy(p, names[i], n);
        p += n;
    }
    return list;
}

static int AddDriver(const char* driverName, const char* ppdPath, const char* renderingDll,
    const char* configDll, char* dependentFiles)
{
    DRIVER_INFO_3A di;
    memset(&di, 0, sizeof(di));
    di.cVersion = 3;
    di.pName = (LPSTR)driverName;
    di.pDriverPath = (LPSTR)(renderingDll ? renderingDll : "wineps.drv");
    di.pConfigFile = (LPSTR)(configDll ? configDll : "wineps.drv");
    di.pDataFile = (LPSTR)ppdPath;
    di.pDefaultDataType = (LPSTR) "RAW";
    di.pDependentFiles = dependentFiles;
    if (AddPrinterDriverExA(NULL, 3, (LPBYTE)&di, APD_COPY_NEW_FILES | APD_COPY_FROM_DIRECTORY))
        return 1;
    DWORD err = GetLastError();
    if (err == ERROR_PRINTER_DRIVER_ALREADY_INSTALLED)
        return 1;
    fprintf(stderr, "tessal-addprinter: AddPrinterDriverExA(%s, %s) failed: error %lu\n",
        driverName, ppdPath, (unsigned long)err);
    return 0;
}

// An existing printer is pointed at the requested driver and port, so that a
// second run with other arguments does not silently keep the old ones.
static int UpdatePrinter(const char* printerName, const char* driverName, const char* port)
{
    HANDLE hPrinter = NULL;
    PRINTER_DEFAULTSA defaults = {NULL, NULL, PRINTER_ALL_ACCESS};
    if (!OpenPrinterA((LPSTR)printerName, &hPrinter, &defaults)) {
        fprintf(stderr, "tessal-addprinter: printer %s exists but OpenPrinterA failed: error %lu\n",
            printerName, (unsigned long)GetLastError());
        return 0;
    }
    DWORD needed = 0;
    GetPrinterA(hPrinter, 2, NULL, 0, &needed);
    BYTE* buf = needed ? (BYTE*)calloc(1, needed) : NULL;
    int ok = buf && GetPrinterA(hPrinter, 2, buf, needed, &needed);
    if (ok) {
        PRINTER_INFO_2A* pi = (PRINTER_INFO_2A*)buf;
        if (!pi->pPortName || strcmp(pi->pPortName, port) != 0 || !pi->pDriverName
            || strcmp(pi->pDriverName, driverName) != 0) {
            pi->pPortName = (LPSTR)port;
            pi->pDriverName = (LPSTR)driverName;
            pi->pSecurityDescriptor = NULL;
            ok = SetPrinterA(hPrinter, 2, buf, 0);
        }
    }
    if (!ok)
        fprintf(stderr, "tessal-addprinter: cannot update existing printer %s: error %lu\n",
            printerName, (unsigned long)GetLastError());
    free(buf);
    ClosePrinter(hPrinter);
    return ok;
}

static int AddPrinterOnPort(const char* printerName, const char* driverName, const char* port)
{
    PRINTER_INFO_2A pi;
    memset(&pi, 0, sizeof(pi));
    pi.pPrinterName = (LPSTR)printerName;
    pi.pPortName = (LPSTR)port;
    pi.pDriverName = (LPSTR)driverName;
    pi.pPrintProcessor = (LPSTR) "WinPrint";
    pi.pDatatype = (LPSTR) "RAW";
    HANDLE hPrinter = AddPrinterA(NULL, 2, (LPBYTE)&pi);
    if (hPrinter) {
        ClosePrinter(hPrinter);
        return 1;
    }
    DWORD err = GetLastError();
    if (err == ERROR_PRINTER_ALREADY_EXISTS)
        return UpdatePrinter(printerName, driverName, port);
    fprintf(stderr, "tessal-addprinter: AddPrinterA(%s, %s, %s) failed: error %lu\n", printerName,
        driverName, port, (unsigned long)err);
    return 0;
}

static int IsFile(const char* path)
{
    DWORD attrs = GetFileAttributesA(path);
    return attrs != INVALID_FILE_ATTRIBUTES && !(attrs & FILE_ATTRIBUTE_DIRECTORY);
}

int main(int argc, char** argv)
{
    // Messages are read on Linux: no "\r\n" line ends.
    _setmode(_fileno(stderr), _O_BINARY);
    int vendor = argc >= 7;
    int usable = argc == 5 || vendor;
    for (int i = 1; usable && i < argc; i++)
        usable = argv[i][0] != 0;
    if (!usable) {
        fprintf(stderr,
            "usage: tessal-addprinter.exe <driver-name> <ppd-windows-path> "
            "<printer-name> <port>\n");
        return EXIT_USAGE;
    }
    if (!IsFile(argv[2])) {
        fprintf(
            stderr, "tessal-addprinter: %s file %s not found\n", vendor ? "data" : "PPD", argv[2]);
        return EXIT_PPD;
    }
    for (int i = 5; vendor && i < argc; i++)
        if (!IsFile(argv[i])) {
            fprintf(stderr, "tessal-addprinter: driver file %s not found\n", argv[i]);
            return EXIT_PPD;
        }
    char* dependents = vendor ? DependentList(argc - 7, argv + 7) : NULL;
    if (vendor && argc > 7 && !dependents) {
        fprintf(stderr, "tessal-addprinter: out of memory\n");
        return EXIT_DRIVER;
    }
    int added = AddDriver(
        argv[1], argv[2], vendor ? argv[5] : NULL, vendor ? argv[6] : NULL, dependents);
    free(dependents);
    if (!added)
        return EXIT_DRIVER;
    if (!AddPrinterOnPort(argv[3], argv[1], argv[4]))
        return EXIT_PRINTER;
    return 0;
}
