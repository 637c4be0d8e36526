#pragma once
// All text inside the program is code page 932 bytes.  Lengths, positions and
// comparisons are in bytes of that encoding.  Native text (UTF-8 file names on
// Linux, UTF-16 on Windows, toolkit strings) is converted only at the platform
// boundary, in fs/ and in the front ends.
//
// String literals in this project are compiled with -fexec-charset=CP932, so a
// plain "..." literal already holds code page 932 bytes.
#include <string>

using ByteString = std::string;
