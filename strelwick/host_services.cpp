// The engine's services that draw nothing: semaphores, string conversion,
// time, what the device is, data modules and their resources.
#include "driver_host.h"

#include <stdlib.h>
#include <string.h>

// ---- Semaphores, strings, time and the device --------------------------------------

HSEMAPHORE APIENTRY HostEngCreateSemaphore(VOID)
{
    CRITICAL_SECTION* cs = (CRITICAL_SECTION*)malloc(sizeof(CRITICAL_SECTION));
    if (cs)
        InitializeCriticalSection(cs);
    return (HSEMAPHORE)cs;
}

VOID APIENTRY HostEngAcquireSemaphore(HSEMAPHORE hsem)
{
    if (hsem)
        EnterCriticalSection((CRITICAL_SECTION*)hsem);
}

VOID APIENTRY HostEngReleaseSemaphore(HSEMAPHORE hsem)
{
    if (hsem)
        LeaveCriticalSection((CRITICAL_SECTION*)hsem);
}

VOID APIENTRY HostEngDeleteSemaphore(HSEMAPHORE hsem)
{
    if (!hsem)
        return;
    DeleteCriticalSection((CRITICAL_SECTION*)hsem);
    free(hsem);
}

BOOL APIENTRY HostEngCheckAbort(SURFOBJ*)
{
    return FALSE;
}

VOID APIENTRY HostEngMultiByteToUnicodeN(
    LPWSTR out, ULONG maxBytes, PULONG bytesOut, PCHAR in, ULONG inBytes)
{
    int n = MultiByteToWideChar(CP_ACP, 0, in, (int)inBytes, out, (int)(maxBytes / 2));
    if (bytesOut)
        *bytesOut = n > 0 ? (ULONG)n * 2 : 0;
}

VOID APIENTRY HostEngUnicodeToMultiByteN(
    PCHAR out, ULONG maxBytes, PULONG bytesOut, PWSTR in, ULONG inBytes)
{
    int n = WideCharToMultiByte(CP_ACP, 0, in, (int)(inBytes / 2), out, (int)maxBytes, NULL, NULL);
    if (bytesOut)
        *bytesOut = n > 0 ? (ULONG)n : 0;
}

INT APIENTRY HostEngMultiByteToWideChar(
    UINT codePage, LPWSTR out, INT outBytes, LPSTR in, INT inBytes)
{
    int n = MultiByteToWideChar(codePage, 0, in, inBytes, out, outBytes / 2);
    return n > 0 ? n * 2 : -1;
}

INT APIENTRY HostEngWideCharToMultiByte(
    UINT codePage, LPWSTR in, INT inBytes, LPSTR out, INT outBytes)
{
    int n = WideCharToMultiByte(codePage, 0, in, inBytes / 2, out, outBytes, NULL, NULL);
    return n > 0 ? n : -1;
}

VOID APIENTRY HostEngGetCurrentCodePage(PUSHORT oem, PUSHORT ansi)
{
    if (oem)
        *oem = (USHORT)GetOEMCP();
    if (ansi)
        *ansi = (USHORT)GetACP();
}

VOID APIENTRY HostEngQueryLocalTime(PENG_TIME_FIELDS ptf)
{
    SYSTEMTIME t;
    GetLocalTime(&t);
    ptf->usYear = t.wYear;
    ptf->usMonth = t.wMonth;
    ptf->usDay = t.wDay;
    ptf->usHour = t.wHour;
    ptf->usMinute = t.wMinute;
    ptf->usSecond = t.wSecond;
    ptf->usMilliseconds = t.wMilliseconds;
    ptf->usWeekday = t.wDayOfWeek;
}

LPWSTR APIENTRY HostEngGetPrinterDataFileName(HDEV hdev)
{
    return hdev ? ((HostDevice*)hdev)->dataFile : NULL;
}

LPWSTR APIENTRY HostEngGetDriverName(HDEV hdev)
{
    return hdev ? ((HostDevice*)hdev)->driverPath : NULL;
}


// ---- Data modules ----------------------------------------------------------------

// A data module is mapped for its resources only: none of its code runs.
HANDLE APIENTRY HostEngLoadModule(LPWSTR pwsz)
{
    if (!pwsz)
        return NULL;
    return (HANDLE)LoadLibraryExW(pwsz, NULL, LOAD_LIBRARY_AS_DATAFILE);
}

PVOID APIENTRY HostEngFindResource(HANDLE h, int iName, int iType, PULONG pulSize)
{
    if (pulSize)
        *pulSize = 0;
    if (!h)
        return NULL;
    HRSRC res = FindResourceW((HMODULE)h, MAKEINTRESOURCEW(iName), MAKEINTRESOURCEW(iType));
    HGLOBAL data = res ? LoadResource((HMODULE)h, res) : NULL;
    void* p = data ? LockResource(data) : NULL;
    if (p && pulSize)
        *pulSize = SizeofResource((HMODULE)h, res);
    return p;
}

VOID APIENTRY HostEngFreeModule(HANDLE h)
{
    if (h)
        FreeLibrary((HMODULE)h);
}

// The host never plays an EMF spool file: there is no EMF to describe.
BOOL APIENTRY HostEngQueryEMFInfo(HDEV, void*)
{
    return FALSE;
}

// A PALOBJ the engine hands out is one of its palettes.
ULONG APIENTRY HostPALOBJ_cGetColors(PALOBJ* ppalo, ULONG iStart, ULONG cColors, ULONG* pulColors)
{
    const EngPalette* p = (const EngPalette*)ppalo;
    if (!p || p->mode != PAL_INDEXED || !pulColors || iStart >= p->count)
        return 0;
    ULONG n = p->count - iStart < cColors ? p->count - iStart : cColors;
    memcpy(pulColors, p->colors + iStart, n * sizeof(ULONG));
    return n;
}
