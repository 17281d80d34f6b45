#include "DebugPrint.h"

#include <stdarg.h>
#include <stdio.h>
#include <windows.h>

void DebugPrint(const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  // _vsnprintf leaves the terminator out when the text fills the buffer; the
  // last byte is kept for it, so longer text is cut to 511 characters.
  _vsnprintf(buffer, sizeof buffer - 1, format, args);
  va_end(args);
  buffer[sizeof buffer - 1] = '\0';
  OutputDebugStringA(buffer);
}
