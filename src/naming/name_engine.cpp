#include "naming/name_engine.h"

#include <cstdio>
#include <string_view>

#include "naming/format_pieces.h"

// Every scan below works on single bytes of code page 932 text, so a "\",
// "[" or "]" byte that is the second half of a double-byte character counts
// like the ASCII character.  Users' existing formats rely on exactly this.

namespace {

constexpr char kOpenBracket = '[';
constexpr char kCloseBracket = ']';

bool IsSeparator(char b) { return b == '\\' || b == '/'; }

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
    for (size_t i = path.size(); i > 0; --i) {
        if (IsSeparator(path[i - 1])) return path.substr(i);  // empty when the path ends in one
    }
    return {};  // no separator at all
}

std::string_view WithoutExtension(std::string_view name) {
    // Bytes 0 and 1 are never looked at: ".profile" and "a.txt" keep their dot.
    for (size_t i = name.size(); i-- > 2;) {
        if (IsSeparator(name[i])) break;
        if (name[i] == '.') return name.substr(0, i);
    }
    return name;
}

std::string_view ExtensionIn(std::string_view path) {
    // Runs over the whole path, separators included: "C:\my.dir\README" has
    // the extension "dir\README".
    for (size_t i = path.size(); i-- > 1;) {
        if (path[i] == '.') return path.substr(i + 1);
    }
    return {};
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

int CompileNameFormat(const ByteString& format, NameProgram& program, NameMessages& host) {
    NameProgram codes;
    codes.reserve(format.size() * 3);
    bool inside = false;
    size_t tokenStart = 0;  // the token is every byte since the last "["
    for (size_t i = 0; i < format.size(); ++i) {
        const char b = format[i];
        if (b == kOpenBracket) {
            // A second "[" restarts the token; the bytes it skips get no code.
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
