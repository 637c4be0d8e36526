#pragma once
// All text inside the program is code page 932 bytes.  Lengths, positions and
// comparisons are in bytes of that encoding.  Native text (UTF-8 file names on
// Linux, UTF-16 on Windows, toolkit strings) is converted only at the platform
// boundary, by the strict conversions of text/encoding.h and text/text_win32.h,
// which the file layer and the front ends call.
//
// The program's own Japanese texts are written in the sources as UTF-8 (u8"")
// literals and turned into code page 932 by Cp932(); plain ASCII literals are
// the same in both encodings.
#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>

using ByteString = std::string;

// The code page 932 bytes of one of the program's own UTF-8 texts.  Every
// such text has a code page 932 form; one without is a programming error and
// throws std::logic_error.
ByteString Cp932(std::u8string_view utf8);

// Whether a byte starts a double-byte character of code page 932 (its second
// byte may then be "\\", "[" or any other ASCII byte).
inline bool IsCp932LeadByte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

// Appends a number in decimal ("%d"), without allocating.
inline void AppendDecimal(ByteString& text, int64_t value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    text.append(digits, end);
}
