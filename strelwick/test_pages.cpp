// Test pages (rect, poly, text), in the printer DC's default device units.
#include "strelwick.h"

BOOL DrawTextToPrinter(LPSTR szPrinterName, LPCSTR lpData, DWORD dwCount)
{
    HDC hdc = StartPrinterDoc(szPrinterName, ADJUST_COPIES);
    if (!hdc || !StartPrinterPage(hdc))
        return 0;
    TextOutA(hdc, 100, 100, lpData, (int)dwCount);
    EndPage(hdc);
    EndDoc(hdc);
    return 1;
}

BOOL DrawRectToPrinter(LPSTR szPrinterName, int left, int top, int right, int bottom)
{
    HDC hdc = StartPrinterDoc(szPrinterName, ADJUST_COPIES);
    if (!hdc || !StartPrinterPage(hdc))
        return 0;
    Rectangle(hdc, left, top, right, bottom);
    EndPage(hdc);
    EndDoc(hdc);
    return 1;
}

BOOL DrawPolyToPrinter(LPSTR szPrinterName, const POINT* pts, int count)
{
    HDC hdc = StartPrinterDoc(szPrinterName, ADJUST_COPIES);
    if (!hdc || !StartPrinterPage(hdc))
        return 0;
    Polygon(hdc, pts, count);
    EndPage(hdc);
    EndDoc(hdc);
    return 1;
}
