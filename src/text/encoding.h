#pragma once
// Strict conversions between code page 932 and UTF-8: false when some
// character has no form on the other side (a round trip must give back the
// same bytes; best-fit mappings are refused).  Each platform has its own
// implementation (text_posix.cpp, text_win32.cpp).
#include <string>

#include "text/byte_string.h"

bool Cp932ToUtf8(const ByteString& text, std::string& utf8);
bool Utf8ToCp932(const std::string& utf8, ByteString& text);

// Code page 932 form of a UTF-8 text for display, each character without a
// code page 932 form shown as "?".
ByteString Utf8ToCp932Shown(const std::string& utf8);
