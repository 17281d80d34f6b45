// The fast kernel for CPUs with AVX-512 (F, VL, BW, DQ, VBMI, VNNI): the same
// code, sixteen pixels a step in 512-bit vectors with masked loads and stores,
// byte permutes for the texel channels and fused 16-bit dot products for the
// blends. Earlier AVX-512 parts (without VBMI) take the AVX2 kernel. Compiled
// through a target pragma only, so the build stays portable; it runs only when
// the CPU reports those extensions.
// Floating-point contraction stays off: a fused multiply-add would change
// roundings against the reference kernel.
#if defined(__x86_64__) || defined(__i386__)
#pragma GCC optimize("fp-contract=off")
#pragma GCC push_options
#pragma GCC target("avx2,avx512f,avx512vl,avx512bw,avx512dq,avx512vbmi,avx512vnni")
// GCC 12 reports the deliberately undefined pass-through operand inside its
// own AVX-512 intrinsic headers as (maybe) uninitialized.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
#include <immintrin.h>

#include <algorithm>
#include <cstring>

#include "raster/Raster.h"

#define STANDIN_FAST_KERNEL FastTriangleAvx512
#define STANDIN_FAST_WIDE 1
#include "raster/FastKernel.inc"

#pragma GCC pop_options
#endif
