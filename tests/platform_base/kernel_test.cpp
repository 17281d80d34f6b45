// The debug channel and the Microsoft printf flavour that DebugPrint relies on.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "standin/faults.h"

namespace {

std::string Format(size_t count, const char* format, ...) {
  char buffer[64];
  memset(buffer, '#', sizeof buffer);
  va_list args;
  va_start(args, format);
  int n = _vsnprintf(buffer, count, format, args);
  va_end(args);
  return std::to_string(n) + ":" + std::string(buffer, buffer + count);
}

TEST(Vsnprintf, UnderstandsThe64BitPrefixAndMicrosoftTruncation) {
  EXPECT_EQ(Format(40, "PerformanceFreq=%I64d", static_cast<int64_t>(-5000000000LL)).substr(0, 30),
            "27:PerformanceFreq=-5000000000");
  // Exactly as long as the buffer: the length, no terminator.
  EXPECT_EQ(Format(4, "%d", 1234), "4:1234");
  // Longer: -1, the buffer holds the first `count` bytes.
  EXPECT_EQ(Format(3, "%d", 12345), "-1:123");
  EXPECT_EQ(Format(8, "%d%%", 50).substr(0, 6), std::string("3:50%\0", 6));
}

TEST(OutputDebugString, WritesCp1252AsUtf8ToStandardError) {
  testing::internal::CaptureStderr();
  OutputDebugStringA("\nArray\xFC" "berauf, Resize()");
  OutputDebugStringA("\x80 \x93q\x94");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "\nArray\xC3\xBC" "berauf, Resize()\xE2\x82\xAC \xE2\x80\x9Cq\xE2\x80\x9D");
}

TEST(Faults, FireOnTheChosenCallOnlyAndCountEveryCall) {
  standin::ResetFaults();
  standin::InjectFault("Op", 2, E_FAIL);
  HRESULT code = S_OK;
  EXPECT_FALSE(standin::TakeFault("Op", &code));
  EXPECT_TRUE(standin::TakeFault("Op", &code));
  EXPECT_EQ(code, E_FAIL);
  EXPECT_FALSE(standin::TakeFault("Op", &code));
  EXPECT_EQ(standin::CallCount("Op"), 3);
  EXPECT_EQ(standin::CallCount("Other"), 0);
  standin::ResetFaults();
  EXPECT_EQ(standin::CallCount("Op"), 0);
}

}  // namespace
