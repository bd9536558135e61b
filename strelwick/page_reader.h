// The BMP page stream of img mode, read from stdin one page ahead: while the
// driver draws page N, a second thread reads page N+1, so the driver does
// not wait for the input. At most two page buffers exist at a time: the page
// being drawn and the one being read.
//
// The reader thread only moves bytes and never logs; the page loop takes
// each page's file header and then its body from it, and checks and logs
// them itself, at the same points and in the same order as when it read them
// itself. The reader reads a page's body only when the file header allows
// one (a BMP magic and a size of at least the file header), and goes on to
// the next page only when the page loop has found the page good: a bad page
// ends the input where it ends the document.
#ifndef STRELWICK_PAGE_READER_H
#define STRELWICK_PAGE_READER_H

#include "strelwick.h"

struct PageReader {
    HANDLE in; // stdin
    HANDLE thread; // NULL: each page is read when it is taken, on the caller's thread
    HANDLE headerRead, bodyRead, goOn; // auto-reset events
    volatile LONG stopping;
    int idle; // the thread waits for goOn or has ended: it reads nothing
    // The page being read; written by the reader until it signals, then
    // read by the page loop.
    unsigned char header[kFileHeaderSize];
    DWORD headerGot;
    unsigned char* dib; // the rest of the file; NULL when it could not be allocated
    uint32_t dibSize;
    uint32_t dibGot;
};

// The BMP magic "BM" and bfSize of a file header.
int BmpHasMagic(const unsigned char* fileHeader);
uint32_t BmpFileSize(const unsigned char* fileHeader);
// The size of the rest of the file that a file header announces, when the
// header allows a body at all: the BMP magic and bfSize of at least 14.
int BmpBodySize(const unsigned char* fileHeader, uint32_t* dibSize);

// Starts reading the first page. There is one reader: stdin is one stream.
PageReader* StartPageReader(void);
// The next page's file header; 0 when the input ended before 14 bytes.
int TakeFileHeader(PageReader* r, unsigned char* fileHeader);
// The rest of the file whose header was taken and allowed a body (see
// BmpBodySize): *dib (NULL when out of memory, else free() it) and the bytes
// that arrived of *size.
void TakePageBody(PageReader* r, unsigned char** dib, uint32_t* got, uint32_t* size);
// The page taken is good: read the next one.
void ReadNextPage(PageReader* r);
// Ends the reader. A thread still reading is left to the end of the process:
// its input may never end, and the process ends right after the document.
void StopPageReader(PageReader* r);

#endif
