#include "batch/journal.h"

#include <charconv>
#include <string_view>

const char kJournalFileName[] = "undo.journal";

namespace {

// The first line of every journal.
constexpr std::string_view kHeader = "Tessarbolink undo journal 1\n";

void AppendEscaped(ByteString& line, const ByteString& path) {
    for (const char b : path) {
        switch (b) {
        case '%': line += "%25"; break;
        case '\t': line += "%09"; break;
        case '\r': line += "%0D"; break;
        case '\n': line += "%0A"; break;
        default: line += b; break;
        }
    }
}

int HexValue(char b) {
    if (b >= '0' && b <= '9') return b - '0';
    if (b >= 'A' && b <= 'F') return b - 'A' + 10;
    return -1;
}

bool Unescape(std::string_view field, ByteString& path) {
    path.clear();
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '%') {
            path += field[i];
            continue;
        }
        if (i + 2 >= field.size()) return false;
        const int high = HexValue(field[i + 1]), low = HexValue(field[i + 2]);
        if (high < 0 || low < 0) return false;
        path += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return true;
}

template <typename Number>
bool ParseNumber(std::string_view field, Number& value) {
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
    return error == std::errc() && end == field.data() + field.size() && !field.empty();
}

void AppendNumber(ByteString& line, int64_t value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    line.append(digits, end);
    line += '\t';
}

bool IsKind(char b) {
    for (const JournalKind kind : {JournalKind::Moved, JournalKind::Copied, JournalKind::CopiedOver,
                                   JournalKind::Deleted, JournalKind::RemovedFolder})
        if (b == static_cast<char>(kind)) return true;
    return false;
}

}  // namespace

void AppendJournalLine(ByteString& line, const JournalRecord& record) {
    line += static_cast<char>(record.kind);
    line += '\t';
    AppendNumber(line, static_cast<int64_t>(record.reachedByPath));
    AppendEscaped(line, record.source);
    line += '\t';
    AppendEscaped(line, record.destination);
    line += '\t';
    AppendNumber(line, static_cast<int64_t>(record.placed.id.volume));
    AppendNumber(line, static_cast<int64_t>(record.placed.id.index));
    AppendNumber(line, record.placed.size);
    AppendNumber(line, record.placed.modified);
    line.back() = '\n';
}

bool ParseJournalLine(const ByteString& line, JournalRecord& record) {
    std::string_view fields[8];
    size_t count = 0, start = 0;
    for (size_t i = 0; i <= line.size(); ++i) {
        if (i < line.size() && line[i] != '\t') continue;
        if (count == 8) return false;
        fields[count++] = std::string_view(line).substr(start, i - start);
        start = i + 1;
    }
    if (count != 8 || fields[0].size() != 1 || !IsKind(fields[0][0])) return false;
    record.kind = static_cast<JournalKind>(fields[0][0]);
    int64_t volume = 0, index = 0;
    if (!ParseNumber(fields[1], record.reachedByPath) || !Unescape(fields[2], record.source) ||
        !Unescape(fields[3], record.destination) || !ParseNumber(fields[4], volume) ||
        !ParseNumber(fields[5], index) || !ParseNumber(fields[6], record.placed.size) ||
        !ParseNumber(fields[7], record.placed.modified))
        return false;
    record.placed.id = FileId{static_cast<uint64_t>(volume), static_cast<uint64_t>(index)};
    return !record.source.empty() && record.reachedByPath <= record.source.size();
}

void JournalWriter::Begin() {
    file_ = AppendFile::Replace(path_);
    if (!file_.Append(ByteString(kHeader))) file_ = AppendFile();
}

void JournalWriter::Record(const JournalRecord& record) {
    if (!file_.IsOpen()) return;
    line_.clear();
    AppendJournalLine(line_, record);
    // A record written only in part is cut short, which the reader ignores;
    // nothing after it could be read: stop.
    if (!file_.Append(line_)) file_ = AppendFile();
}

std::vector<JournalRecord> ReadJournal(const ByteString& path) {
    std::vector<JournalRecord> records;
    ByteString text;
    try {
        text = ReadTextFile(path);
    } catch (const FileError&) {
        return records;
    }
    if (text.compare(0, kHeader.size(), kHeader) != 0) return records;
    JournalRecord record;
    ByteString line;
    for (size_t start = kHeader.size();;) {
        const size_t end = text.find('\n', start);
        if (end == ByteString::npos) break;  // cut short: no record
        line.assign(text, start, end - start);
        if (ParseJournalLine(line, record)) records.push_back(record);
        start = end + 1;
    }
    return records;
}

bool JournalHasRecords(const ByteString& path) { return !ReadJournal(path).empty(); }

void EmptyJournal(const ByteString& path) {
    // Nothing to undo any more; a journal that cannot be emptied is left as
    // it is, and the files it names are checked again by the next undo.
    (void)AppendFile::Replace(path);
}

void KeepInJournal(const ByteString& path, const std::vector<JournalRecord>& records, size_t count) {
    if (count == 0) {
        EmptyJournal(path);
        return;
    }
    ByteString text(kHeader);
    for (size_t i = 0; i < count && i < records.size(); ++i) AppendJournalLine(text, records[i]);
    try {
        // A journal that cannot be rewritten stays whole: the records already
        // taken back then fail their check at the next undo and count as not
        // undone.
        (void)WriteTextFileSafely(path, text);
    } catch (const FileError&) {
    }
}
