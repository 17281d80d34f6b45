// Code page 1252 ("Windows ANSI") to UTF-8.
#ifndef STANDIN_COMMON_CP1252_H
#define STANDIN_COMMON_CP1252_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace standin {

// Unicode code point of a code page 1252 byte. The five bytes that 1252 leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 controls of the same
// value, as Windows' MultiByteToWideChar does.
char32_t Cp1252ToCodePoint(uint8_t byte);

// Appends the UTF-8 form of `length` bytes of 1252 text to `out`.
void AppendCp1252AsUtf8(const char* text, size_t length, std::string& out);

std::string Cp1252ToUtf8(const char* text, size_t length);
std::string Cp1252ToUtf8(const char* text);

}  // namespace standin

#endif
