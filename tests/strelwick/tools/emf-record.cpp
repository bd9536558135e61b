// emf-record: records an EMF test fixture against a printer's DC, so that the
// metafile's frame and its logical units are those of that printer.
//
//   emf-record.exe <printer> <out.emf> <width-0.01mm> <height-0.01mm>
//
// The picture is a black rectangle that fills the whole frame, with a white
// cross through its middle; the frame starts at (0, 0).
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv)
{
    if (argc != 5) {
        fprintf(
            stderr, "usage: emf-record.exe <printer> <out.emf> <width-0.01mm> <height-0.01mm>\n");
        return 2;
    }
    long width = strtol(argv[3], NULL, 10), height = strtol(argv[4], NULL, 10);
    if (width <= 0 || height <= 0) {
        fprintf(stderr, "emf-record: width and height must be positive\n");
        return 2;
    }
    HDC ref = CreateDCA(NULL, argv[1], NULL, NULL);
    if (!ref) {
        fprintf(stderr, "emf-record: CreateDCA(%s) failed: %lu\n", argv[1], GetLastError());
        return 3;
    }
    RECT frame = {0, 0, width, height};
    HDC emf = CreateEnhMetaFileA(ref, argv[2], &frame, "emf-record\0test\0");
    if (!emf) {
        fprintf(
            stderr, "emf-record: CreateEnhMetaFileA(%s) failed: %lu\n", argv[2], GetLastError());
        DeleteDC(ref);
        return 3;
    }
    // Frame in the reference device's pixels.
    int w = MulDiv(width, GetDeviceCaps(ref, HORZRES), GetDeviceCaps(ref, HORZSIZE) * 100);
    int h = MulDiv(height, GetDeviceCaps(ref, VERTRES), GetDeviceCaps(ref, VERTSIZE) * 100);
    RECT all = {0, 0, w, h};
    FillRect(emf, &all, (HBRUSH)GetStockObject(BLACK_BRUSH));
    RECT across = {0, h / 2 - 2, w, h / 2 + 2}, down = {w / 2 - 2, 0, w / 2 + 2, h};
    FillRect(emf, &across, (HBRUSH)GetStockObject(WHITE_BRUSH));
    FillRect(emf, &down, (HBRUSH)GetStockObject(WHITE_BRUSH));
    HENHMETAFILE done = CloseEnhMetaFile(emf);
    DeleteDC(ref);
    if (!done) {
        fprintf(stderr, "emf-record: CloseEnhMetaFile failed: %lu\n", GetLastError());
        return 3;
    }
    DeleteEnhMetaFile(done);
    return 0;
}
