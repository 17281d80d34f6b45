// KERNEL32 and C runtime pieces: the debug channel, the performance counter and
// the Microsoft flavour of vsnprintf.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <unistd.h>

#include "common/cp1252.h"
#include "standin/debuglog.h"

namespace {

std::atomic<int> g_debugOutput{STDERR_FILENO};

}  // namespace

void standin::SetDebugOutput(int fd) { g_debugOutput.store(fd < 0 ? -1 : fd); }

extern "C" void WINAPI OutputDebugStringA(LPCSTR text) {
  const int fd = g_debugOutput.load();
  if (text == nullptr || fd < 0) return;
  std::string utf8 = standin::Cp1252ToUtf8(text);
  // One write per call, so lines from one call are never split by other output.
  const char* p = utf8.data();
  size_t left = utf8.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n <= 0) break;
    p += n;
    left -= static_cast<size_t>(n);
  }
}

extern "C" BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
  if (frequency == nullptr) return FALSE;
  frequency->QuadPart = 1000000000;  // CLOCK_MONOTONIC counts nanoseconds
  return TRUE;
}

namespace {

// Rewrites the Microsoft size prefixes I64 and I32 into their C99 forms
// ("%I64d" -> "%lld", "%I32u" -> "%u"); everything else is copied as is.
// Returns false when the format does not fit `out`.
bool TranslateFormat(const char* format, char* out, size_t outSize) {
  size_t o = 0;
  auto put = [&](char c) {
    if (o + 1 >= outSize) return false;
    out[o++] = c;
    return true;
  };
  for (const char* p = format; *p != '\0';) {
    if (*p != '%') {
      if (!put(*p++)) return false;
      continue;
    }
    if (!put(*p++)) return false;
    if (*p == '%') {
      if (!put(*p++)) return false;
      continue;
    }
    // Flags, width, precision.
    while (*p != '\0' && std::strchr("-+ #0123456789.*", *p) != nullptr) {
      if (!put(*p++)) return false;
    }
    if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
      if (!put('l') || !put('l')) return false;
      p += 3;
    } else if (p[0] == 'I' && p[1] == '3' && p[2] == '2') {
      p += 3;
    }
  }
  out[o] = '\0';
  return true;
}

}  // namespace

extern "C" int _vsnprintf(char* buffer, size_t count, const char* format, va_list args) {
  if (format == nullptr) return -1;
  char translated[1024];
  const char* fmt = format;
  std::string longFormat;
  if (std::strstr(format, "%") != nullptr && std::strstr(format, "I") != nullptr) {
    if (TranslateFormat(format, translated, sizeof translated)) {
      fmt = translated;
    } else {
      longFormat.resize(std::strlen(format) * 2 + 1);
      TranslateFormat(format, longFormat.data(), longFormat.size());
      fmt = longFormat.c_str();
    }
  }
  if (count == 0) return -1;
  // vsnprintf always terminates; the Microsoft function fills all `count`
  // bytes and leaves the terminator out when the text is exactly as long or longer.
  std::string whole;
  va_list copy;
  va_copy(copy, args);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  int length = std::vsnprintf(buffer, count, fmt, args);
  if (length >= 0 && static_cast<size_t>(length) >= count) {
    whole.resize(static_cast<size_t>(length) + 1);
    std::vsnprintf(whole.data(), whole.size(), fmt, copy);
  }
#pragma GCC diagnostic pop
  va_end(copy);
  if (length < 0) return -1;
  if (static_cast<size_t>(length) < count) return length;
  std::memcpy(buffer, whole.data(), count);
  return static_cast<size_t>(length) == count ? length : -1;
}
