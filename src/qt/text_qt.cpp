#include "qt/text_qt.h"

#include <string>

#include "text/encoding.h"

namespace {


// Decodes character by character so that a bad byte spoils only itself.
QString DecodeLeniently(const ByteString& cp932) {
    QString shown;
    for (size_t i = 0; i < cp932.size();) {
        std::string utf8;
        const bool pair = IsCp932LeadByte(static_cast<unsigned char>(cp932[i])) && i + 1 < cp932.size();
        if (pair && Cp932ToUtf8(cp932.substr(i, 2), utf8)) {
            i += 2;
        } else if (Cp932ToUtf8(cp932.substr(i, 1), utf8)) {
            i += 1;
        } else {
            utf8 = "\xEF\xBF\xBD";  // U+FFFD
            i += 1;
        }
        shown += QString::fromStdString(utf8);
    }
    return shown;
}

}  // namespace

QString QtText(const char8_t* utf8) {
    return utf8 ? QString::fromUtf8(reinterpret_cast<const char*>(utf8)) : QString();
}

QString QtText(const ByteString& cp932) {
    std::string utf8;
    if (Cp932ToUtf8(cp932, utf8)) return QString::fromStdString(utf8);
    return DecodeLeniently(cp932);
}

ByteString Cp932Shown(const QString& text) { return Utf8ToCp932Shown(text.toStdString()); }

std::optional<ByteString> Cp932Strict(const QString& text) {
    ByteString cp932;
    if (!Utf8ToCp932(text.toStdString(), cp932)) return std::nullopt;
    return cp932;
}
