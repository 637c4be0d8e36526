#include "naming/name_engine.h"

#include <cstdio>
#include <string_view>

#include "naming/format_pieces.h"
#include "text/cp932_scan.h"

// Every scan below reads the code page 932 text by characters
// (text/cp932_scan.h): the second byte of a double-byte character is never a
// separator, a dot or a bracket.

namespace {

constexpr char kOpenBracket = '[';
constexpr char kCloseBracket = ']';

const char* CodeOfToken(std::string_view name) {
    for (const FormatToken& token : FormatTokens()) {
        if (name == token.name) return token.code;
    }
    return nullptr;
}

void ShowError(NameMessages& host, std::u8string_view text) {
    static const ByteString caption = Cp932(u8"エラー");
    host.ShowMessage(Cp932(text), caption);
}

// The path-piece scans, on views so that naming a file allocates nothing
// beyond the name itself.

std::string_view FileNamePartOf(std::string_view path) {
    const size_t separator = LastSeparatorIndex(path);
    if (separator == std::string_view::npos) return {};  // no separator at all
    return path.substr(separator + 1);                   // empty when the path ends in one
}

// The extension is sought in the last component only: "b.pdf" has the title
// "b", ".profile" keeps its dot, and "C:\v1.2\README" has no extension.
std::string_view WithoutExtension(std::string_view name) {
    const size_t dot = ExtensionDotIndex(name);
    return dot == std::string_view::npos ? name : name.substr(0, dot);
}

std::string_view ExtensionIn(std::string_view path) {
    const size_t dot = ExtensionDotIndex(path);
    return dot == std::string_view::npos ? std::string_view() : path.substr(dot + 1);
}

void AppendLocalTimeStamp(ByteString& name, const LocalDateTime& t) {
    // A year past 9999 simply gets more digits.
    char stamp[48];
    const int length = std::snprintf(stamp, sizeof stamp, "%04lld%02d%02d%02d%02d%02d",
                                     static_cast<long long>(t.year), t.month, t.day, t.hour,
                                     t.minute, t.second);
    if (length > 0) name.append(stamp, static_cast<size_t>(length));
}

// The width digits of a code, read like atoi reads them: leading decimal
// digits, 0 when there are none.
int32_t CodeWidth(const char* code) {
    int32_t width = 0;
    for (int i = 1; i < 3 && code[i] >= '0' && code[i] <= '9'; ++i) width = width * 10 + (code[i] - '0');
    return width;
}

// Adds without the undefined behaviour of signed overflow: the counters are
// 32-bit and simply wrap, as they always have.
int32_t WrappingAdd(int32_t value, int32_t increment) {
    return static_cast<int32_t>(static_cast<uint32_t>(value) + static_cast<uint32_t>(increment));
}

}  // namespace

// Every code stands for as many format bytes as its width says, so the X
// codes copy their bytes from the right place however the tokens and the
// literal text are mixed.
int CompileNameFormat(const ByteString& format, NameProgram& program, NameMessages& host) {
    NameProgram codes;
    codes.reserve(format.size() * 3);
    bool inside = false;
    size_t tokenStart = 0;  // the token is every byte since the last "["
    for (size_t i = 0; i < format.size(); i += Cp932CharLength(format, i)) {
        const char b = format[i];
        if (Cp932CharLength(format, i) == 2) {
            // A double-byte character is text, inside a token or out of one.
            if (!inside) codes.append("X01X01", 6);
        } else if (b == kOpenBracket) {
            // A second "[" restarts the token: the "[" before it, and the text
            // between the two, were literal text after all.
            if (inside) {
                for (size_t skipped = tokenStart - 1; skipped < i; ++skipped) codes.append("X01", 3);
            }
            inside = true;
            tokenStart = i + 1;
        } else if (b == kCloseBracket) {
            if (!inside) {
                ShowError(host, u8"ファイル名フォーマットが不正です。");
                return 0;
            }
            inside = false;
            const char* code = CodeOfToken(std::string_view(format).substr(tokenStart, i - tokenStart));
            if (code == nullptr) {
                ShowError(host, u8"未知の形式です。");
                return 0;
            }
            codes.append(code, 3);
        } else if (!inside) {
            codes.append("X01", 3);
        }
    }
    // An unclosed "[" is no error: whatever follows it is simply left out.
    program = std::move(codes);
    return 1;
}

int RunNameCode(const char* code, int32_t& position, const ByteString& source, ByteString& name,
                NameContext& context) {
    switch (code[0]) {
    case 'T':
        name += WithoutExtension(FileNamePartOf(source));
        break;
    case 'E':
        name += ExtensionIn(source);
        break;
    case 'N':
        // Each date code reads the clock anew, so two in one format may differ.
        AppendLocalTimeStamp(name, context.localTime(context.clock()));
        break;
    case 'X':
        if (position >= 0 && static_cast<size_t>(position) < context.format.size())
            name += context.format[static_cast<size_t>(position)];
        break;
    case 'R':
        AppendDecimal(name, context.random.Draw() % 100000);
        break;
    case 'L':
        AppendDecimal(name, context.serial);
        context.serial = WrappingAdd(context.serial, 1);
        break;
    default:
        ShowError(context.host, u8"未知のフォーマットが使用されました。");
        return 0;
    }
    position = WrappingAdd(position, CodeWidth(code));
    return 1;
}

ByteString BuildTargetName(const NameProgram& program, const ByteString& source, NameContext& context) {
    ByteString name;
    name.reserve(context.format.size() + source.size() + 32);
    int32_t position = 0;
    for (size_t offset = 0; offset < program.size(); offset += 3) {
        // A program cut short mid-code is read as if padded with zero bytes,
        // never past its end.
        char code[3] = {};
        program.copy(code, 3, offset);
        RunNameCode(code, position, source, name, context);
    }
    return name;
}

ByteString FileNamePart(const ByteString& path) { return ByteString(FileNamePartOf(path)); }

ByteString StripExtension(const ByteString& name) { return ByteString(WithoutExtension(name)); }

ByteString ExtensionOf(const ByteString& path) { return ByteString(ExtensionIn(path)); }
