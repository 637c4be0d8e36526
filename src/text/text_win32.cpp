// Code page 932 text on Windows: strict conversions to and from UTF-16 (and
// through it UTF-8) with the system's own code page tables.
#include <windows.h>

#include <climits>
#include <string>

#include "text/encoding.h"
#include "text/text_win32.h"

namespace {

constexpr UINT kCodePage = 932;

bool WideOfBytes(UINT codePage, DWORD flags, const std::string& bytes, std::wstring& wide) {
    wide.clear();
    if (bytes.empty()) return true;
    if (bytes.size() > INT_MAX) return false;
    const int size = static_cast<int>(bytes.size());
    const int length = MultiByteToWideChar(codePage, flags, bytes.data(), size, nullptr, 0);
    if (length <= 0) return false;
    wide.resize(length);
    return MultiByteToWideChar(codePage, flags, bytes.data(), size, wide.data(), length) == length;
}

// Without a used-default flag to read for UTF-8, strictness there comes from
// WC_ERR_INVALID_CHARS (a lone surrogate fails).
bool BytesOfWide(UINT codePage, const std::wstring& wide, std::string& bytes) {
    bytes.clear();
    if (wide.empty()) return true;
    if (wide.size() > INT_MAX) return false;
    const bool utf8 = codePage == CP_UTF8;
    const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    const int size = static_cast<int>(wide.size());
    BOOL usedDefault = FALSE;
    BOOL* usedDefaultFlag = utf8 ? nullptr : &usedDefault;
    const int length = WideCharToMultiByte(codePage, flags, wide.data(), size, nullptr, 0, nullptr, usedDefaultFlag);
    if (length <= 0 || usedDefault) return false;
    bytes.resize(length);
    const int written =
        WideCharToMultiByte(codePage, flags, wide.data(), size, bytes.data(), length, nullptr, usedDefaultFlag);
    return written == length && !usedDefault;
}

bool IsHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

bool Cp932ToWide(const ByteString& text, std::wstring& wide) {
    ByteString back;
    if (WideOfBytes(kCodePage, MB_ERR_INVALID_CHARS, text, wide) && BytesOfWide(kCodePage, wide, back) &&
        back == text)
        return true;
    wide.clear();
    return false;
}

bool WideToCp932(const std::wstring& wide, ByteString& text) {
    std::wstring back;
    if (BytesOfWide(kCodePage, wide, text) && WideOfBytes(kCodePage, MB_ERR_INVALID_CHARS, text, back) &&
        back == wide)
        return true;
    text.clear();
    return false;
}

ByteString WideToCp932Shown(const std::wstring& wide) {
    ByteString text;
    if (WideToCp932(wide, text)) return text;
    for (size_t i = 0; i < wide.size();) {
        const bool pair = IsHighSurrogate(wide[i]) && i + 1 < wide.size() && IsLowSurrogate(wide[i + 1]);
        const size_t length = pair ? 2 : 1;
        ByteString piece;
        text += WideToCp932(wide.substr(i, length), piece) ? piece : ByteString("?");
        i += length;
    }
    return text;
}

bool Cp932ToUtf8(const ByteString& text, std::string& utf8) {
    std::wstring wide;
    if (Cp932ToWide(text, wide) && BytesOfWide(CP_UTF8, wide, utf8)) return true;
    utf8.clear();
    return false;
}

bool Utf8ToCp932(const std::string& utf8, ByteString& text) {
    std::wstring wide;
    if (WideOfBytes(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, wide) && WideToCp932(wide, text)) return true;
    text.clear();
    return false;
}

ByteString Utf8ToCp932Shown(const std::string& utf8) {
    // Invalid UTF-8 becomes U+FFFD first, which is then shown as "?".
    std::wstring wide;
    WideOfBytes(CP_UTF8, 0, utf8, wide);
    return WideToCp932Shown(wide);
}
