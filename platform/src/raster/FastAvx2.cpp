// The fast kernel for AVX2 CPUs. Compiled for AVX2 through a target pragma
// only, so the build stays portable; it runs only when the CPU reports AVX2.
// Floating-point contraction stays off: a fused multiply-add would change
// roundings against the reference kernel.
#if defined(__x86_64__) || defined(__i386__)
#pragma GCC optimize("fp-contract=off")
#pragma GCC push_options
#pragma GCC target("avx2")
#include <immintrin.h>

#include <algorithm>
#include <cstring>

#include "raster/Raster.h"

#define STANDIN_FAST_KERNEL FastTriangleAvx2
#include "raster/FastKernel.inc"

#pragma GCC pop_options
#endif
