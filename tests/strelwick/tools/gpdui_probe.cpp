// gpdui-probe.exe <printer>: asks a printer on our own Unidrv core for
// device modes through its configuration DLL and prints, one line each,
// the options text and the Tessal Band plug-in's darkness of each:
//
//   defaults          DocumentProperties with no input
//   merged            the defaults with Letter, Finish=Gloss and darkness 12
//   bad-part          a plug-in part the plug-in does not accept (darkness 99)
//   foreign-part      a plug-in part of another signature
//   convert-default   DrvConvertDevMode, the driver's defaults
//   convert           DrvConvertDevMode of "merged"
//   short-buffer      DrvConvertDevMode into too small a buffer: the size asked
#include <windows.h>
#include <winspool.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tband.h"
#include "unidrv_dm.h"
#include "winddiui_more.h"

static void Show(const char* what, const DEVMODEW* dm)
{
    const UnidrvDmHeader* h = UnidrvDmFind(dm);
    DWORD size = 0;
    const TBandDm* part = (const TBandDm*)UnidrvDmPlugin(dm, 0, &size);
    printf("%s paper=%d options=%s darkness=%ld\n", what, dm->dmPaperSize, h ? h->options : "-",
        part && size == sizeof(TBandDm) ? (long)part->darkness : -1L);
}

static DEVMODEW* Merge(HANDLE printer, WCHAR* name, DEVMODEW* in, LONG size)
{
    DEVMODEW* out = (DEVMODEW*)calloc(1, size);
    out->dmSize = (WORD)size; // Wine takes the buffer's size from here
    if (DocumentPropertiesW(NULL, printer, name, out, in, in ? DM_IN_BUFFER | DM_OUT_BUFFER : DM_OUT_BUFFER) < 0) {
        printf("DocumentProperties failed: %lu\n", (unsigned long)GetLastError());
        exit(1);
    }
    return out;
}

static TBandDm* Part(DEVMODEW* dm)
{
    DWORD size = 0;
    return (TBandDm*)UnidrvDmPlugin(dm, 0, &size);
}

int wmain(int argc, WCHAR** argv)
{
    _setmode(_fileno(stdout), _O_BINARY); // read on Linux: no "\r\n"
    HANDLE printer;
    if (argc != 2 || !OpenPrinterW(argv[1], &printer, NULL))
        return 2;
    WCHAR* name = argv[1];
    LONG size = DocumentPropertiesW(NULL, printer, name, NULL, NULL, 0);
    if (size < (LONG)sizeof(DEVMODEW))
        return 3;
    DEVMODEW* defaults = Merge(printer, name, NULL, size);
    Show("defaults", defaults);

    DEVMODEW* in = (DEVMODEW*)malloc(size);
    memcpy(in, defaults, size);
    in->dmPaperSize = DMPAPER_LETTER;
    in->dmFields |= DM_PAPERSIZE;
    strcpy(((UnidrvDmHeader*)UnidrvDmFind(in))->options, "Finish=Gloss");
    Part(in)->darkness = 12;
    DEVMODEW* merged = Merge(printer, name, in, size);
    Show("merged", merged);

    memcpy(in, merged, size);
    Part(in)->darkness = 99;
    Show("bad-part", Merge(printer, name, in, size));
    memcpy(in, merged, size);
    Part(in)->header.dwSignature = 0x12345678;
    Show("foreign-part", Merge(printer, name, in, size));

    DWORD needed = 0;
    GetPrinterDriverW(printer, NULL, 3, NULL, 0, &needed);
    DRIVER_INFO_3W* info = (DRIVER_INFO_3W*)calloc(1, needed);
    GetPrinterDriverW(printer, NULL, 3, (BYTE*)info, needed, &needed);
    HMODULE config = LoadLibraryW(info->pConfigFile);
    PFN_DrvConvertDevMode convert
        = config ? (PFN_DrvConvertDevMode)(void*)GetProcAddress(config, "DrvConvertDevMode") : NULL;
    if (!convert)
        return 4;
    DEVMODEW* out = (DEVMODEW*)calloc(1, size);
    LONG room = size;
    if (convert(name, NULL, out, &room, CDM_DRIVER_DEFAULT))
        Show("convert-default", out);
    room = size;
    memset(out, 0, size);
    if (convert(name, merged, out, &room, CDM_CONVERT))
        Show("convert", out);
    room = sizeof(DEVMODEW);
    BOOL ok = convert(name, merged, out, &room, CDM_CONVERT);
    printf("short-buffer ok=%d error=%lu needed=%s\n", ok, (unsigned long)GetLastError(),
        room == size ? "size" : "other");
    ClosePrinter(printer);
    return 0;
}
