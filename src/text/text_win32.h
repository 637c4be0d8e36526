#pragma once
// Windows only: the strict conversions between the program's code page 932
// text and the platform's UTF-16.  Used by the file layer and by the Win32
// front end (dropped paths, window texts).
#include <string>

#include "text/byte_string.h"

// Code page 932 to UTF-16.  False when the bytes are not valid code page 932
// or would not come back as the same bytes; nothing is ever substituted.
bool Cp932ToWide(const ByteString& text, std::wstring& wide);

// UTF-16 to code page 932.  False when some character has no code page 932
// form (best-fit look-alikes such as U+00A5 for "\" are refused).
bool WideToCp932(const std::wstring& wide, ByteString& text);

// Code page 932 form of a UTF-16 text for display: each character without a
// code page 932 form becomes "?".
ByteString WideToCp932Shown(const std::wstring& wide);
