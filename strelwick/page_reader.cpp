// Reads img mode's BMP pages from stdin one page ahead, on a second thread.
#include "page_reader.h"

#include <stdlib.h>
#include <string.h>

enum { kBmpMagic = 0x4D42 };

// A build for benchmarks turns reading ahead off, to compare in one run.
#ifdef STRELWICK_READ_IN_TURN
static const int kReadAhead = 0;
#else
static const int kReadAhead = 1;
#endif

// Bytes asked of ReadFile at a time.
static const uint32_t kReadChunk = 1u << 24;

// One reader for the process's one stdin. Static rather than on the page
// loop's stack: a thread left reading at the end may still write to it.
static PageReader g_reader;

int BmpHasMagic(const unsigned char* fileHeader)
{
    return (fileHeader[0] | fileHeader[1] << 8) == kBmpMagic;
}

uint32_t BmpFileSize(const unsigned char* fileHeader)
{
    const unsigned char* p = fileHeader + 2;
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

int BmpBodySize(const unsigned char* fileHeader, uint32_t* dibSize)
{
    uint32_t bfSize = BmpFileSize(fileHeader);
    if (!BmpHasMagic(fileHeader) || bfSize < kFileHeaderSize)
        return 0;
    *dibSize = bfSize - kFileHeaderSize;
    return 1;
}

// Reads until size bytes arrived or the input ends; returns the bytes read.
// ReadFile, not the C library: a thread blocked in fread holds stdin's lock,
// and the C library's exit waits for every stream's lock.
static uint32_t ReadFully(HANDLE in, unsigned char* buf, uint32_t size)
{
    uint32_t got = 0;
    while (got < size) {
        DWORD n = 0;
        DWORD ask = size - got < kReadChunk ? size - got : kReadChunk;
        if (!ReadFile(in, buf + got, ask, &n, NULL) || n == 0)
            break;
        got += n;
    }
    return got;
}

static void ReadHeaderPart(PageReader* r)
{
    r->headerGot = ReadFully(r->in, r->header, kFileHeaderSize);
}

static int HeaderAllowsBody(const PageReader* r)
{
    uint32_t size;
    return r->headerGot == kFileHeaderSize && BmpBodySize(r->header, &size);
}

static void ReadBodyPart(PageReader* r)
{
    r->dibSize = 0;
    r->dibGot = 0;
    BmpBodySize(r->header, &r->dibSize);
    r->dib = (unsigned char*)malloc(r->dibSize ? r->dibSize : 1);
    if (r->dib)
        r->dibGot = ReadFully(r->in, r->dib, r->dibSize);
}

// The reader thread: a page's header, then its body, then it waits for the
// page loop's word that the page was good. It stops at the first page that
// is cut short or cannot be read whole.
static DWORD WINAPI ReadAhead(void* arg)
{
    PageReader* r = (PageReader*)arg;
    for (;;) {
        ReadHeaderPart(r);
        int body = HeaderAllowsBody(r);
        SetEvent(r->headerRead);
        if (!body)
            return 0;
        ReadBodyPart(r);
        int whole = r->dib && r->dibGot == r->dibSize;
        SetEvent(r->bodyRead);
        if (!whole)
            return 0;
        WaitForSingleObject(r->goOn, INFINITE);
        if (r->stopping)
            return 0;
    }
}

static void CloseEvents(PageReader* r)
{
    HANDLE* events[] = {&r->headerRead, &r->bodyRead, &r->goOn};
    for (HANDLE* h : events) {
        if (*h)
            CloseHandle(*h);
        *h = NULL;
    }
}

PageReader* StartPageReader(void)
{
    PageReader* r = &g_reader;
    memset(r, 0, sizeof(*r));
    r->in = GetStdHandle(STD_INPUT_HANDLE);
    if (!kReadAhead)
        return r;
    r->headerRead = CreateEventA(NULL, FALSE, FALSE, NULL);
    r->bodyRead = CreateEventA(NULL, FALSE, FALSE, NULL);
    r->goOn = CreateEventA(NULL, FALSE, FALSE, NULL);
    if (r->headerRead && r->bodyRead && r->goOn)
        r->thread = CreateThread(NULL, 0, ReadAhead, r, 0, NULL);
    // Without a thread every page is read when it is taken.
    if (!r->thread)
        CloseEvents(r);
    return r;
}

int TakeFileHeader(PageReader* r, unsigned char* fileHeader)
{
    if (r->thread)
        WaitForSingleObject(r->headerRead, INFINITE);
    else
        ReadHeaderPart(r);
    r->idle = !HeaderAllowsBody(r);
    memcpy(fileHeader, r->header, kFileHeaderSize);
    return r->headerGot == kFileHeaderSize;
}

void TakePageBody(PageReader* r, unsigned char** dib, uint32_t* got, uint32_t* size)
{
    if (r->thread)
        WaitForSingleObject(r->bodyRead, INFINITE);
    else
        ReadBodyPart(r);
    r->idle = 1;
    *dib = r->dib;
    *got = r->dibGot;
    *size = r->dibSize;
    r->dib = NULL;
}

void ReadNextPage(PageReader* r)
{
    if (!r->thread)
        return;
    r->idle = 0;
    SetEvent(r->goOn);
}

void StopPageReader(PageReader* r)
{
    if (!r->thread || !r->idle)
        return;
    InterlockedExchange(&r->stopping, 1);
    SetEvent(r->goOn);
    WaitForSingleObject(r->thread, INFINITE);
    CloseHandle(r->thread);
    r->thread = NULL;
    CloseEvents(r);
}
