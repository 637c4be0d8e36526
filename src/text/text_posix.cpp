// Code page 932 text on Linux: strict conversions to and from UTF-8 through
// the C library's iconv.
#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "text/encoding.h"

namespace {

// One pair of iconv descriptors per thread, opened once: conversions run for
// every file of a batch.
class Converters {
public:
    Converters() : toUtf8_(iconv_open("UTF-8", "CP932")), toCp932_(iconv_open("CP932", "UTF-8")) {}
    ~Converters() {
        if (toUtf8_ != kNone) iconv_close(toUtf8_);
        if (toCp932_ != kNone) iconv_close(toCp932_);
    }
    Converters(const Converters&) = delete;
    Converters& operator=(const Converters&) = delete;

    iconv_t toUtf8() const { return toUtf8_; }
    iconv_t toCp932() const { return toCp932_; }

    static inline const iconv_t kNone = reinterpret_cast<iconv_t>(-1);

private:
    iconv_t toUtf8_;
    iconv_t toCp932_;
};

Converters& ThreadConverters() {
    thread_local Converters converters;
    return converters;
}

bool IsAscii(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// One pass of iconv over the whole input; false at the first byte sequence
// that has no form on the other side.
bool RunIconv(iconv_t cd, const std::string& in, std::string& out) {
    out.clear();
    if (cd == Converters::kNone) return false;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial state

    out.resize(in.size() * 3 + 8);
    char* inPos = const_cast<char*>(in.data());
    size_t inLeft = in.size();
    char* outPos = out.data();
    size_t outLeft = out.size();
    while (inLeft > 0) {
        if (iconv(cd, &inPos, &inLeft, &outPos, &outLeft) != static_cast<size_t>(-1)) continue;
        if (errno != E2BIG) {
            out.clear();
            return false;
        }
        const size_t used = static_cast<size_t>(outPos - out.data());
        out.resize(out.size() * 2);
        outPos = out.data() + used;
        outLeft = out.size() - used;
    }
    if (iconv(cd, nullptr, nullptr, &outPos, &outLeft) == static_cast<size_t>(-1)) {
        out.clear();
        return false;
    }
    out.resize(static_cast<size_t>(outPos - out.data()));
    return true;
}

// Converts and converts back: glibc maps some characters to a look-alike
// (U+00A5 to 0x5C, U+301C to 0x8160 ...), and code page 932 has bytes that
// share one character with other bytes.  Only an exact round trip counts.
bool ConvertStrictly(iconv_t there, iconv_t back, const std::string& in, std::string& out) {
    if (IsAscii(in)) {  // ASCII is the same in both encodings
        out = in;
        return true;
    }
    std::string roundTrip;
    if (RunIconv(there, in, out) && RunIconv(back, out, roundTrip) && roundTrip == in) return true;
    out.clear();
    return false;
}

// The byte length of the UTF-8 sequence that starts with this byte, or 0 for
// a byte that cannot start one.
size_t Utf8SequenceLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

}  // namespace

bool Cp932ToUtf8(const ByteString& text, std::string& utf8) {
    const Converters& c = ThreadConverters();
    return ConvertStrictly(c.toUtf8(), c.toCp932(), text, utf8);
}

bool Utf8ToCp932(const std::string& utf8, ByteString& text) {
    const Converters& c = ThreadConverters();
    return ConvertStrictly(c.toCp932(), c.toUtf8(), utf8, text);
}

ByteString Utf8ToCp932Shown(const std::string& utf8) {
    ByteString whole;
    if (Utf8ToCp932(utf8, whole)) return whole;

    ByteString shown;
    ByteString one;
    for (size_t at = 0; at < utf8.size();) {
        size_t length = Utf8SequenceLength(static_cast<unsigned char>(utf8[at]));
        if (length == 0 || at + length > utf8.size()) length = 1;  // a stray byte: one "?"
        if (Utf8ToCp932(utf8.substr(at, length), one))
            shown += one;
        else
            shown += '?';
        at += length;
    }
    return shown;
}
