// KERNEL32 and C runtime functions used by the demo.
#ifndef STANDIN_WIN32_KERNEL_H
#define STANDIN_WIN32_KERNEL_H

#include <stdarg.h>
#include "types.h"

#ifdef __cplusplus
extern "C" {
#endif

// Writes the zero-terminated code page 1252 text to the debug channel: standard
// error, converted to UTF-8, with nothing added.
void WINAPI OutputDebugStringA(LPCSTR text);

// Counts per second of the performance counter (here: the monotonic clock in
// nanoseconds, 1,000,000,000). Always succeeds on Linux.
BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER* frequency);

// The C runtime's _vsnprintf, as on Windows: formats at most `count` bytes into
// `buffer`; returns the length, or -1 when the text did not fit (the buffer then
// holds the first `count` bytes and no terminating zero). Understands the
// Microsoft size prefix I64 ("%I64d") besides the standard conversions.
int _vsnprintf(char* buffer, size_t count, const char* format, va_list args);

#ifdef __cplusplus
}
#endif

#endif
