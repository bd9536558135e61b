// The raster compression methods a GPD can turn on, as the printer
// languages that use them define them:
//   TIFF 4.0 (PackBits): a count byte n; 0..127 = n+1 literal bytes
//     follow, -1..-127 = the next byte repeated 1-n times;
//   delta row (DRC): against the plane's previous row (the seed row), a
//     command byte (count-1)<<5 | offset (offset 31: more offset bytes
//     follow, each added, 255 meaning one more), then count replacement
//     bytes; offsets count from the end of the previous replacement;
//   run length (FE-RLE): pairs of (repeat-1, byte).
#pragma once

#include <stddef.h>

// GC_OEM: the driver's rendering plug-in compresses (CmdEnableOEMComp).
enum gpd_compression { GC_NONE, GC_TIFF4, GC_DRC, GC_RLE, GC_OEM, GC_COUNT };

// Room an encoder may need for n input bytes.
size_t gpd_compress_bound(size_t n);

size_t gpd_tiff4(const unsigned char* in, size_t n, unsigned char* out);
size_t gpd_drc(const unsigned char* in, const unsigned char* seed, size_t n, unsigned char* out);
size_t gpd_rle(const unsigned char* in, size_t n, unsigned char* out);
