#pragma once
// Windows only: native paths of the file layer, also used by the Win32 front
// end (the help file beside the program).
#include <string>

#include "text/byte_string.h"

// The form of a UTF-16 path to hand to the wide file APIs.  A path that is
// too long for the classic limit is first normalised exactly as Windows
// normalises a short one (GetFullPathNameW: "/" becomes "\", "." and ".."
// are resolved, a last name ending in "." or a blank is trimmed) and then
// given the "\\?\" or "\\?\UNC\" prefix; any other path is returned as is.
std::wstring LongPathForm(const std::wstring& path);

// The full path Windows itself makes of a path (GetFullPathNameW); empty when
// it cannot make one.
std::wstring FullPathOf(const std::wstring& path);

// Cp932ToWide followed by LongPathForm.  False when the path has no UTF-16
// form or holds a NUL byte (which would cut it short and name another file).
bool NativePathOf(const ByteString& path, std::wstring& native);

// The running executable's full path in UTF-16, of any length.
std::wstring ExecutablePathWide();
