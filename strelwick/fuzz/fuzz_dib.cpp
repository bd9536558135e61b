// libFuzzer target: DibCheckPage on arbitrary page buffers. The buffer is a
// heap copy of exactly the input's size, so ASan sees any read past it; on
// DIB_OK every byte the header describes is touched, as StretchDIBits would.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "dib_layout.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    uint8_t* page = (uint8_t*)malloc(size ? size : 1);
    if (!page)
        return 0;
    memcpy(page, data, size);
    DibHeader hdr;
    uint64_t offset = 0, needed = 0;
    if (DibCheckPage(page, size, &hdr, &offset, &needed) == DIB_OK) {
        if (offset > needed || needed > size)
            abort();
        volatile uint8_t sum = 0;
        for (uint64_t i = 0; i < needed; i++)
            sum += page[i];
        (void)sum;
    }
    free(page);
    return 0;
}
