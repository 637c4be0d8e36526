#pragma once
// Text at the Qt boundary.  Inside the program every text is code page 932;
// QString exists only in the Qt front end and is converted here, strictly.
#include <optional>

#include <QString>

#include "text/byte_string.h"

// One of the program's own texts (a UTF-8 literal of the control table).
QString QtText(const char8_t* utf8);

// A code page 932 text for display.  Bytes that form no code page 932
// character (a settings file edited by hand) are shown as U+FFFD, so they
// come back as "?" if the control is read again.
QString QtText(const ByteString& cp932);

// What the user typed, for the settings: a character with no code page 932
// form becomes "?".
ByteString Cp932Shown(const QString& text);

// A path for the file system: nullopt when some character has no code page
// 932 form, so that no other file is ever named in its place.
std::optional<ByteString> Cp932Strict(const QString& text);
