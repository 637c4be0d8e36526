#pragma once
// The command line of both programs: a few options, and the files and
// folders to handle as a drop of them once the window is shown.
//
//   --help      prints the usage (Japanese and English) and ends
//   --version   prints the name and the version and ends
//   --          ends the options: every later argument names a file
//
// Any other argument before "--" that starts with "-" is refused.  The
// options are read from left to right and the first of --help, --version or
// a refused one decides.  Every text here is UTF-8 with LF line ends, for
// standard output or standard error.
#include <string>
#include <string_view>
#include <vector>

enum class StartRequest { Window, Help, Version, RefusedOption };

struct CommandLine {
    StartRequest request = StartRequest::Window;
    // The arguments that name files, as indexes into the arguments, in order.
    std::vector<size_t> files;
    // With RefusedOption: the index of the argument refused.
    size_t refused = 0;
};

// The exit status after a refused option.
constexpr int kRefusedOptionStatus = 2;

// Reads the arguments, the program's name not among them.  Only ASCII is
// compared, so any encoding will do (UTF-16 code units here).
CommandLine ReadCommandLine(const std::vector<std::u16string>& arguments);

// What --help prints.
std::string_view UsageText();

// What --version prints: "Tessarbolink" and the version, one line.
std::string VersionText();

// What a refused option prints on standard error; option as given (UTF-8).
std::string RefusedOptionText(std::string_view option);
