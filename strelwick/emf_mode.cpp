// emf mode: an EMF file played onto one page of the printer DC.
#include "strelwick.h"

#include <stdint.h>
#include <string.h>

#include "dib_layout.h"

static_assert(sizeof(ENHMETAHEADER) * 5 == 540, "header buffer holds 5 records");

static void LogDimensionProblem(EmfDim result, const char* sizeCap, int32_t value)
{
    if (result == EMF_DIM_NO_SIZE)
        dbg_log("device reports %s 0, EMF extent set to 0\n", sizeCap);
    else if (result == EMF_DIM_CLAMPED)
        dbg_log("EMF frame too large for %s, extent clamped to %d\n", sizeCap, (int)value);
}

static LONG AbsClamped(int64_t v)
{
    if (v < 0)
        v = -v;
    return v > INT32_MAX ? INT32_MAX : (LONG)v;
}

// Size of the metafile's frame (0.01 mm) in the logical units of hDC.
static void GetEMFDimension(HDC hDC, HENHMETAFILE hEmf, LONG& width, LONG& height)
{
    ENHMETAHEADER emfh[5];
    memset(emfh, 0, sizeof(emfh));
    GetEnhMetaFileHeader(hEmf, sizeof(emfh), emfh);
    const RECTL& frame = emfh[0].rclFrame;
    int64_t frameWidth = (int64_t)frame.right - frame.left;
    int64_t frameHeight = (int64_t)frame.bottom - frame.top;

    int horzSize = GetDeviceCaps(hDC, HORZSIZE);
    int horzRes = GetDeviceCaps(hDC, HORZRES);
    int vertSize = GetDeviceCaps(hDC, VERTSIZE);
    int vertRes = GetDeviceCaps(hDC, VERTRES);
    int32_t w = 0, h = 0;
    LogDimensionProblem(EmfFrameToDevice(frameWidth, horzSize, horzRes, &w), "HORZSIZE", w);
    LogDimensionProblem(EmfFrameToDevice(frameHeight, vertSize, vertRes, &h), "VERTSIZE", h);

    RECT rect = {0, 0, (LONG)w, (LONG)h};
    DPtoLP(hDC, (POINT*)&rect, 2);
    width = AbsClamped((int64_t)rect.right - rect.left);
    height = AbsClamped((int64_t)rect.bottom - rect.top);
}

BOOL EmfToPrinter(LPSTR szPrinterName, LPBYTE lpData, DWORD dwCount)
{
    HDC hdc = StartPrinterDoc(szPrinterName, ADJUST_COPIES);
    if (!hdc || !StartPrinterPage(hdc))
        return 0;
    HENHMETAFILE henh = SetEnhMetaFileBits(dwCount, lpData);
    if (!henh) {
        dbg_log("failed to parse EMF file\n");
    } else {
        RECT rect = {0, 0, 0, 0};
        GetEMFDimension(hdc, henh, rect.right, rect.bottom);
        dbg_log("draw EMF region:%dx%d\n", (int)rect.right, (int)rect.bottom);
        PlayEnhMetaFile(hdc, henh, &rect);
    }
    EndPage(hdc);
    EndDoc(hdc);
    return 1;
}
