// The fast kernel in 128-bit vectors, four pixels a step: WebAssembly SIMD in
// the web build (built with -msimd128), SSE4.1 elsewhere on x86 (through a
// target pragma only, so the build stays portable; it runs only when the CPU
// reports SSE4.1). Floating-point contraction stays off: a fused
// multiply-add would change roundings against the reference kernel.
#if defined(__wasm__) && !defined(__wasm_simd128__)
#error "the 128-bit kernel needs WebAssembly SIMD: build this file with -msimd128"
#endif
#if defined(__wasm_simd128__) || defined(__x86_64__) || defined(__i386__)
#pragma GCC optimize("fp-contract=off")
#pragma GCC push_options
#ifdef __wasm_simd128__
#include <wasm_simd128.h>
#else
#pragma GCC target("sse4.1")
#include <smmintrin.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstring>

#include "raster/Raster.h"

#define STANDIN_FAST_KERNEL FastTriangle128
#define STANDIN_FAST_NARROW 1
#include "raster/FastKernel.inc"

#pragma GCC pop_options
#endif
