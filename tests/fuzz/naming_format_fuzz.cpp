// Fuzzes the name format engine: any format, compiled and run against any
// source path, and any bytes run as if they were a compiled program.
//
// Input: FORMAT NUL SOURCE NUL PARAMETERS, where PARAMETERS are the clock's
// first reading (8 bytes), the serial counter (4) and the random seed (4),
// little-endian; missing parts are empty or zero.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "naming/format_pieces.h"
#include "naming/name_engine.h"
#include "support/civil_calendar.h"
#include "text/cp932_scan.h"

namespace {

class RecordingHost : public NameMessages {
public:
    void ShowMessage(const ByteString& text, const ByteString& caption) override {
        messages.push_back(caption + ": " + text);
    }
    std::vector<ByteString> messages;
};

// The local time of a moment in UTC, from the calendar alone, so that a run
// never depends on the machine's time zone.  Exact for every 64-bit moment.
LocalDateTime UtcCalendar(int64_t seconds) { return testing_support::CivilFromSeconds(seconds); }

template <typename T>
T ReadLittleEndian(std::string_view& bytes) {
    uint64_t value = 0;
    for (size_t i = 0; i < sizeof(T) && i < bytes.size(); ++i)
        value |= static_cast<uint64_t>(static_cast<unsigned char>(bytes[i])) << (8 * i);
    bytes.remove_prefix(bytes.size() < sizeof(T) ? bytes.size() : sizeof(T));
    return static_cast<T>(value);
}

std::string_view TakeUntilNul(std::string_view& bytes) {
    const size_t end = bytes.find('\0');
    const std::string_view part = bytes.substr(0, end);
    bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
    return part;
}

bool IsKnownCode(std::string_view code) {
    if (code == "X01") return true;
    for (const FormatToken& token : FormatTokens())
        if (code == std::string_view(token.code, 3)) return true;
    return false;
}

size_t CountCodes(const NameProgram& program, char letter) {
    size_t count = 0;
    for (size_t offset = 0; offset < program.size(); offset += 3) count += program[offset] == letter;
    return count;
}

// The sum of the widths of the codes: how many format bytes they stand for.
size_t WidthOf(const NameProgram& program) {
    size_t width = 0;
    for (size_t offset = 0; offset + 2 < program.size(); offset += 3)
        width += static_cast<size_t>((program[offset + 1] - '0') * 10 + (program[offset + 2] - '0'));
    return width;
}

// Where the format's last "[" character starts when no "]" character follows
// it (the tail the compiler leaves out), otherwise the format's length; and
// whether it holds a bracket character at all.
struct Brackets {
    size_t coveredLength;
    bool any;
};

Brackets BracketsOf(std::string_view format) {
    Brackets found{format.size(), false};
    for (size_t i = 0; i < format.size(); i += Cp932CharLength(format, i)) {
        if (Cp932CharLength(format, i) == 2) continue;
        if (format[i] == '[') found.coveredLength = i;
        if (format[i] == ']') found.coveredLength = format.size();
        found.any = found.any || format[i] == '[' || format[i] == ']';
    }
    return found;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    const ByteString format(TakeUntilNul(input));
    const ByteString source(TakeUntilNul(input));
    const auto firstReading = ReadLittleEndian<uint64_t>(input);
    const auto firstSerial = ReadLittleEndian<int32_t>(input);
    const auto seed = ReadLittleEndian<uint32_t>(input);

    RecordingHost host;
    uint64_t readings = 0;
    // Each reading one second later than the one before, wrapping at the end
    // of the 64-bit range.
    const Clock clock = [&] { return static_cast<int64_t>(firstReading + readings++); };
    int32_t serial = firstSerial;
    NameRandom random;
    random.Seed(seed);
    NameContext context{format, serial, random, clock, UtcCalendar, host};

    // The compiler either succeeds silently with known codes only, or shows
    // one message and leaves the previous program alone.
    NameProgram program = "T18";
    const int compiled = CompileNameFormat(format, program, host);
    if (compiled == 0) {
        FUZZ_REQUIRE(host.messages.size() == 1, "a failed compilation shows exactly one message");
        FUZZ_REQUIRE(program == "T18", "a failed compilation keeps the previous program");
    } else {
        FUZZ_REQUIRE(compiled == 1, "compilation returns 0 or 1");
        FUZZ_REQUIRE(host.messages.empty(), "a successful compilation shows nothing");
        FUZZ_REQUIRE(program.size() % 3 == 0, "a program is whole three-byte codes");
        for (size_t offset = 0; offset < program.size(); offset += 3)
            FUZZ_REQUIRE(IsKnownCode(std::string_view(program).substr(offset, 3)), "only known codes");

        // Running a compiled program shows nothing, reads the clock once per
        // date code and advances the serial once per serial code.
        const ByteString name = BuildTargetName(program, source, context);
        FUZZ_REQUIRE(host.messages.empty(), "a compiled program runs without messages");
        FUZZ_REQUIRE(readings == CountCodes(program, 'N'), "one clock reading per date code");
        FUZZ_REQUIRE(static_cast<uint32_t>(serial) - static_cast<uint32_t>(firstSerial) == CountCodes(program, 'L'),
                     "the serial advances once per serial code");
        // The codes stand for every byte of the format up to an unclosed
        // "[", so the literal codes copy the bytes they stand for; a format
        // without bracket characters (double-byte characters never are
        // brackets) is copied byte for byte.
        const Brackets brackets = BracketsOf(format);
        FUZZ_REQUIRE(WidthOf(program) == brackets.coveredLength, "the codes cover the format up to an unclosed bracket");
        if (!brackets.any) FUZZ_REQUIRE(name == format, "a format without tokens is its own name");

        // The same program, state and clock give the same name again.
        int32_t serialAgain = firstSerial;
        NameRandom randomAgain;
        randomAgain.Seed(seed);
        uint64_t readingsAgain = 0;
        const Clock clockAgain = [&] { return static_cast<int64_t>(firstReading + readingsAgain++); };
        NameContext again{format, serialAgain, randomAgain, clockAgain, UtcCalendar, host};
        FUZZ_REQUIRE(BuildTargetName(program, source, again) == name, "names are deterministic");
    }

    // Any bytes run as a program: one message per code with an unknown
    // letter, never a read outside the program or the format.
    host.messages.clear();
    const NameProgram raw = format;
    (void)BuildTargetName(raw, source, context);
    size_t unknown = 0;
    for (size_t offset = 0; offset < raw.size(); offset += 3)
        unknown += std::strchr("TENXRL", raw[offset]) == nullptr || raw[offset] == '\0';
    FUZZ_REQUIRE(host.messages.size() == unknown, "one message per unknown code");
    return 0;
}
