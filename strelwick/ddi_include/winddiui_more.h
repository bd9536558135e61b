// What a printer configuration DLL exports and receives, from the published
// printer driver interface; mingw-w64's winddiui.h lacks it.  One
// definition for our configuration DLL and the test driver's.
#pragma once

#include <windows.h>

// lParam of DrvDocumentPropertySheets when it is called without a property
// sheet (DocumentProperties).
struct DOCUMENTPROPERTYHEADER {
    WORD cbSize;
    WORD Reserved;
    HANDLE hPrinter;
    LPWSTR pszPrinterName;
    DEVMODEW* pdmIn;
    DEVMODEW* pdmOut;
    DWORD cbOut;
    DWORD fMode;
};

// The argument of DevQueryPrintEx.
struct DEVQUERYPRINT_INFO {
    WORD cbSize;
    WORD Level;
    HANDLE hPrinter;
    DEVMODEW* pDevMode;
    LPWSTR pszErrorStr;
    DWORD cchErrorStr;
    DWORD cchNeeded;
};

// DrvConvertDevMode's modes.
enum { CDM_CONVERT = 1, CDM_CONVERT351 = 2, CDM_DRIVER_DEFAULT = 4 };

typedef LONG(WINAPI* PFN_DrvDocumentPropertySheets)(void* pPSUIInfo, LPARAM lParam);
typedef DWORD(WINAPI* PFN_DrvDeviceCapabilities)(
    HANDLE hPrinter, LPWSTR pDeviceName, WORD iDevCap, void* pvOutput, DEVMODEW* pDevMode);
typedef BOOL(WINAPI* PFN_DrvConvertDevMode)(
    LPWSTR pPrinterName, DEVMODEW* pdmIn, DEVMODEW* pdmOut, LONG* pcbNeeded, DWORD fMode);
