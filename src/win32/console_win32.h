#pragma once
// The console the program was started from, for the texts of the command
// line (--help, --version, a refused option).  The program is a window
// program: it has a console only while it borrows its parent's.
#include <windows.h>

#include <string>
#include <string_view>

// Gives the program the console of the process that started it: false when
// that process has none (started from Explorer, a shortcut, another window
// program).  attached tells whether it was attached here (and is to be let go
// with FreeConsole) rather than had already (as Wine gives it).
bool UseStartingConsole(bool& attached);

// Writes a UTF-8 text with LF line ends to standard output or standard error
// (STD_OUTPUT_HANDLE, STD_ERROR_HANDLE): to the console itself in UTF-16,
// or, where the stream was redirected to a file or a pipe, in the console's
// code page with CR LF line ends.  False when it could not be written.
bool WriteToConsole(DWORD stream, std::string_view utf8);

// The UTF-8 form of a UTF-16 text (an unpaired surrogate becomes U+FFFD).
std::string Utf8OfWide(const std::wstring& wide);
