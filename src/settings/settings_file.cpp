// The settings file: key=value lines, each ended by CR LF, beside the program.
//
// Every getter reads the whole file and walks it on its own; the file holds
// nine short lines, so loading simply reads it nine times.
#include "settings/settings_file.h"

#include <optional>
#include <string>
#include <string_view>

#include "fs/documents_folder.h"
#include "fs/folders.h"
#include "fs/program_files.h"
#include "naming/format_pieces.h"

const char kSettingsFileName[] = "Morvandel.sav";

namespace {

constexpr char kSection[] = "Morvandel";

ByteString SettingsPath(const ByteString& folder, const ByteString& section) {
    return folder + section + ".sav";
}

// A read that fails after the file was opened happens while the settings load,
// before any window exists to report it: the settings then fall back to their
// defaults, exactly as for a missing file.
ByteString ReadSettingsText(const ByteString& path) {
    try {
        return ReadTextFile(path);
    } catch (const FileError&) {
        return ByteString();
    }
}

// The value of one line when its key (the part before the first "=") is
// exactly the wanted key.
std::optional<ByteString> ValueInLine(std::string_view line, std::string_view key) {
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos || line.substr(0, equals) != key) return std::nullopt;
    return ByteString(line.substr(equals + 1));
}

// The first line ended by CR or LF whose key matches.  A last line without a
// line end is never examined.
std::optional<ByteString> FindValue(std::string_view text, std::string_view key) {
    size_t lineStart = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n') continue;
        if (auto value = ValueInLine(text.substr(lineStart, i - lineStart), key)) return value;
        lineStart = i + 1;
    }
    return std::nullopt;
}

std::optional<ByteString> LookUp(const ByteString& folder, const ByteString& section,
                                 const ByteString& key) {
    return FindValue(ReadSettingsText(SettingsPath(folder, section)), key);
}

bool IsLeadingBlank(char byte) {
    return byte == ' ' || byte == '\t' || byte == '\v' || byte == '\f';
}

// Like atol: leading blanks, an optional sign, then decimal digits up to the
// first other byte; no digits give 0.  The sum wraps modulo 2^32 instead of
// overflowing, so a value 2^32 above another reads as that other.
int32_t ParseInteger(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && IsLeadingBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    uint32_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        magnitude = magnitude * 10u + static_cast<uint32_t>(text[i] - '0');
    return static_cast<int32_t>(negative ? 0u - magnitude : magnitude);
}

void AppendLine(ByteString& text, std::string_view key, std::string_view value) {
    text.append(key).append("=").append(value).append("\r\n");
}

void AppendLine(ByteString& text, std::string_view key, int32_t value) {
    AppendLine(text, key, std::to_string(value));
}

}  // namespace

ByteString SavGetString(const ByteString& folder, const ByteString& section, const ByteString& key,
                        const ByteString& defaultValue) {
    return LookUp(folder, section, key).value_or(defaultValue);
}

int32_t SavGetInt(const ByteString& folder, const ByteString& section, const ByteString& key,
                  int32_t defaultValue) {
    const auto value = LookUp(folder, section, key);
    return value ? ParseInteger(*value) : defaultValue;
}

int32_t SavGetBool(const ByteString& folder, const ByteString& section, const ByteString& key,
                   int32_t defaultValue) {
    const auto value = LookUp(folder, section, key);
    if (!value) return defaultValue;
    return *value == "1" ? 1 : 0;
}

DropSettings LoadSettings(const ByteString& folder) { return LoadSettings(folder, MovedFilesIn(folder)); }

DropSettings LoadSettings(const ByteString& folder, const ByteString& defaultWhere) {
    DropSettings s;
    s.m_sWhere = SavGetString(folder, kSection, "m_sWhere", defaultWhere);
    s.m_sFileNameFormat = SavGetString(folder, kSection, "m_sFileNameFormat", DefaultFileNameFormat());
    s.m_nMode = SavGetInt(folder, kSection, "m_nMode", 1);
    s.m_bChangeLog = SavGetBool(folder, kSection, "m_bChangeLog", 0);
    s.m_bErrorLog = SavGetBool(folder, kSection, "m_bErrorLog", 0);
    s.m_bFileDontMove = SavGetBool(folder, kSection, "m_bFileDontMove", 0);
    s.m_bDeleteDerectory = SavGetBool(folder, kSection, "m_bDeleteDerectory", 0);
    s.m_nKBytes = SavGetInt(folder, kSection, "m_nKBytes", 10);
    s.m_nDontMoveMode = SavGetInt(folder, kSection, "m_nDontMoveMode", 0);
    return s;
}

void SaveSettings(const DropSettings& settings, const ByteString& folder) {
    ByteString text;
    AppendLine(text, "m_sWhere", settings.m_sWhere);
    AppendLine(text, "m_sFileNameFormat", settings.m_sFileNameFormat);
    AppendLine(text, "m_nMode", settings.m_nMode);
    AppendLine(text, "m_bChangeLog", settings.m_bChangeLog);
    AppendLine(text, "m_bErrorLog", settings.m_bErrorLog);
    AppendLine(text, "m_bFileDontMove", settings.m_bFileDontMove);
    AppendLine(text, "m_nKBytes", settings.m_nKBytes);
    AppendLine(text, "m_nDontMoveMode", settings.m_nDontMoveMode);
    AppendLine(text, "m_bDeleteDerectory", settings.m_bDeleteDerectory);
    // A file that can be neither opened nor created is left as it was, without
    // a word; a write that fails once the file is open throws FileError, which
    // the window reports, and the old settings stay intact.
    (void)WriteTextFileSafely(folder + kSettingsFileName, text);
}
