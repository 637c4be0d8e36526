#pragma once
// The file-name format engine: a format of literal bytes and bracketed tokens
// is compiled once per batch into a NameProgram of three-byte codes, which is
// then run once per file against the file's source path.
#include <cstdint>
#include <functional>

#include "text/byte_string.h"
#include "text/date_time.h"

// The one service of the window that the engine calls: its messages.
class NameMessages {
public:
    virtual ~NameMessages() = default;
    // Modal message with an OK button and no icon.
    virtual void ShowMessage(const ByteString& text, const ByteString& caption) = 0;
};

// The compiled format: three-byte codes, each a letter (T, E, N, X, R, L) and
// the two-digit width of the format bytes its token stands for.
using NameProgram = ByteString;

// Seconds since 1970; the date token reads it once per code.
using Clock = std::function<int64_t()>;

// The local time of a count of seconds since 1970 (the platform's time zone).
using LocalTimeOf = LocalDateTime (*)(int64_t secondsSince1970);

// The random numbers of the "[乱数]" token: a 32-bit linear congruential
// generator yielding 0 to 32767.
class NameRandom {
public:
    void Seed(uint32_t seed) { state_ = seed; }
    int Draw() {
        state_ = state_ * 214013u + 2531011u;
        return static_cast<int>((state_ >> 16) & 0x7FFF);
    }

private:
    uint32_t state_ = 1;
};

// Everything a running name program reads or advances besides its own codes.
struct NameContext {
    const ByteString& format;  // m_sFileNameFormat, for the literal bytes of X codes
    int32_t& serial;           // the batch's serial counter, for L codes
    NameRandom& random;
    const Clock& clock;
    LocalTimeOf localTime;     // for the date token
    NameMessages& host;        // for the unknown-code message
};

// Compiles the format into program.  On failure shows the message through the
// host, leaves program as it was, and returns 0.
int CompileNameFormat(const ByteString& format, NameProgram& program, NameMessages& host);

// Runs one three-byte code: appends to name and advances position.
int RunNameCode(const char* code, int32_t& position, const ByteString& source, ByteString& name,
                NameContext& context);

// Runs the whole program against a source path and returns the new name.
ByteString BuildTargetName(const NameProgram& program, const ByteString& source, NameContext& context);

// Path pieces, read by characters ("\" and "/" are both separators).
// FileNamePart: what follows the last separator (empty without one).
// StripExtension and ExtensionOf: the last component split at its last dot,
// unless that dot is its first character ("b.pdf": "b" and "pdf";
// ".profile": ".profile" and nothing).
ByteString FileNamePart(const ByteString& path);
ByteString StripExtension(const ByteString& name);
ByteString ExtensionOf(const ByteString& path);
