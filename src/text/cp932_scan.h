#pragma once
// Scans of code page 932 text that read characters, not bytes: a lead byte
// (0x81-0x9F, 0xE0-0xFC) takes the byte after it along, and that second byte
// is never taken for "\", "/", ".", "[" or "]", whatever its value (ソ, 表,
// 能, 申 ... end in 0x5C, ー in 0x5B).  Every scan for a separator, a dot or a
// bracket in the program's own text goes through here.
//
// The text is read from its start: a byte taken alone cannot tell whether it
// is the second half of a character.  A lead byte at the very end, with no
// byte after it, is a character of its own.
#include <cstddef>
#include <string_view>

#include "text/byte_string.h"

// How many bytes the character that starts at index i takes: 2 for a lead
// byte followed by another byte, otherwise 1.
inline size_t Cp932CharLength(std::string_view text, size_t i) {
    return IsCp932LeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size() ? 2 : 1;
}

// "\" and "/", the two separators every path scan accepts.
inline bool IsPathSeparatorByte(char b) { return b == '\\' || b == '/'; }

// The index of the last separator character of a path, or npos.
size_t LastSeparatorIndex(std::string_view path);

// Whether the last character of the text is the single byte c (the second
// byte of a double-byte character never is).
bool EndsWithCharacter(std::string_view text, char c);

// The index of the "." that starts the extension of a path's last component
// (the part after its last separator), or npos when it has none.  That is the
// last "." of the component unless it is the component's first character:
// "b.pdf" has the extension "pdf", ".profile" has none, and a dot in a folder
// name ("v1.2/README") never counts.
size_t ExtensionDotIndex(std::string_view path);
