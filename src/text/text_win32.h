#pragma once
// Windows only: the strict conversions between the program's code page 932
// text and the platform's UTF-16, and the native form of a path.  Used by the
// file layer and by the Win32 front end (dropped paths, window texts).
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

// The form of a UTF-16 path to hand to the wide file APIs.  A path that is
// too long for the classic limit is first normalised exactly as Windows
// normalises a short one (GetFullPathNameW: "/" becomes "\", "." and ".."
// are resolved, a last name ending in "." or a blank is trimmed) and then
// given the "\\?\" or "\\?\UNC\" prefix; any other path is returned as is.
std::wstring LongPathForm(const std::wstring& path);

// Cp932ToWide followed by LongPathForm.  False when the path has no UTF-16
// form or holds a NUL byte (which would cut it short and name another file).
bool NativePathOf(const ByteString& path, std::wstring& native);

// The running executable's full path in UTF-16, of any length.
std::wstring ExecutablePathWide();
