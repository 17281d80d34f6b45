// The demo's one log.
#ifndef DEBUGPRINT_H
#define DEBUGPRINT_H

// Formats printf-style into a 512-byte buffer (at most 511 characters and the
// terminating zero; longer text is cut) and hands it to OutputDebugStringA.
// Adds no prefix, time stamp or line end: messages carry their own "\n".
void DebugPrint(const char* format, ...)
#if defined(__GNUC__) && !defined(_WIN32)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

#endif
