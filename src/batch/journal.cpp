#include "batch/journal.h"

#include <algorithm>
#include <charconv>

const char kJournalFileName[] = "undo.journal";

namespace {

// The first line of every journal: its format.
constexpr std::string_view kFirstLine = "Tessarbolink undo journal 2\n";
constexpr char kDestinationLine = 'W';
constexpr char kDroppedLine = 'P';
constexpr size_t kFields = 15;

// The journal is read in blocks of this size.
constexpr size_t kBlock = 64 * 1024;

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
    line += '\t';
    line.append(digits, end);
}

void AppendStamp(ByteString& line, const FileStamp& stamp) {
    AppendNumber(line, static_cast<int64_t>(stamp.id.volume));
    AppendNumber(line, static_cast<int64_t>(stamp.id.index));
    AppendNumber(line, stamp.size);
    AppendNumber(line, stamp.modified);
}

bool ParseId(std::string_view volumeField, std::string_view indexField, FileId& id) {
    int64_t volume = 0, index = 0;
    if (!ParseNumber(volumeField, volume) || !ParseNumber(indexField, index)) return false;
    id = FileId{static_cast<uint64_t>(volume), static_cast<uint64_t>(index)};
    return true;
}

bool ParseStamp(const std::string_view* fields, FileStamp& stamp) {
    return ParseId(fields[0], fields[1], stamp.id) && ParseNumber(fields[2], stamp.size) &&
           ParseNumber(fields[3], stamp.modified);
}

bool IsKind(char b) {
    for (const JournalKind kind : {JournalKind::Moved, JournalKind::Copied, JournalKind::CopiedOver,
                                   JournalKind::Deleted, JournalKind::EnteredFolder, JournalKind::RemovedFolder})
        if (b == static_cast<char>(kind)) return true;
    return false;
}

// A header line: its kind byte, TAB, a path.
bool ParseHeaderLine(std::string_view line, char& kind, ByteString& path) {
    if (line.size() < 3 || line[1] != '\t') return false;
    kind = line[0];
    return (kind == kDestinationLine || kind == kDroppedLine) && Unescape(line.substr(2), path) && !path.empty();
}

}  // namespace

ByteString JournalLockPath(const ByteString& journalPath) { return journalPath + ".lock"; }
ByteString NewJournalPath(const ByteString& journalPath) { return journalPath + ".new"; }

ProgramLock LockJournal(const ByteString& journalPath, ProgramLock::Outcome& outcome) {
    return ProgramLock::Take(JournalLockPath(journalPath), outcome);
}

// ---------------------------------------------------------------------------
// Lines

void AppendJournalHeader(ByteString& lines, const JournalHeader& header) {
    lines += kFirstLine;
    lines += kDestinationLine;
    lines += '\t';
    AppendEscaped(lines, header.destination);
    lines += '\n';
    for (const ByteString& path : header.dropped) {
        lines += kDroppedLine;
        lines += '\t';
        AppendEscaped(lines, path);
        lines += '\n';
    }
}

void AppendJournalLine(ByteString& line, const JournalRecord& record) {
    line += static_cast<char>(record.kind);
    line += '\t';
    AppendEscaped(line, record.source);
    line += '\t';
    AppendEscaped(line, record.destination);
    AppendStamp(line, record.placed);
    AppendStamp(line, record.original);
    AppendNumber(line, static_cast<int64_t>(record.folder.volume));
    AppendNumber(line, static_cast<int64_t>(record.folder.index));
    AppendNumber(line, record.mode);
    AppendNumber(line, record.owner);
    line += '\n';
}

bool ParseJournalLine(std::string_view line, JournalRecord& record) {
    std::string_view fields[kFields];
    size_t count = 0, start = 0;
    for (size_t i = 0; i <= line.size(); ++i) {
        if (i < line.size() && line[i] != '\t') continue;
        if (count == kFields) return false;
        fields[count++] = line.substr(start, i - start);
        start = i + 1;
    }
    if (count != kFields || fields[0].size() != 1 || !IsKind(fields[0][0])) return false;
    record.kind = static_cast<JournalKind>(fields[0][0]);
    return Unescape(fields[1], record.source) && !record.source.empty() && Unescape(fields[2], record.destination) &&
           ParseStamp(fields + 3, record.placed) && ParseStamp(fields + 7, record.original) &&
           ParseId(fields[11], fields[12], record.folder) && ParseNumber(fields[13], record.mode) &&
           ParseNumber(fields[14], record.owner);
}

// ---------------------------------------------------------------------------
// Writing

RecorderStart JournalWriter::Begin(const JournalHeader& header) {
    ProgramLock::Outcome outcome;
    lock_ = LockJournal(path_, outcome);
    if (outcome == ProgramLock::Outcome::Busy) return RecorderStart::Busy;
    // Without a lock file (a folder that takes no new file) no journal can be
    // written either: the batch goes on only if the user says so.
    lost_ = 0;
    leftOlder_ = false;
    recording_ = false;
    file_ = AppendFile::CreateNew(NewJournalPath(path_));
    line_.clear();
    AppendJournalHeader(line_, header);
    if (file_.IsOpen() && file_.Append(line_) && file_.Rename(path_)) {
        recording_ = true;
        return RecorderStart::Recording;
    }
    file_ = AppendFile();
    (void)RemoveOwnFile(NewJournalPath(path_));
    return RecorderStart::NotRecording;
}

void JournalWriter::DropPrevious() {
    if (!RemoveOwnFile(path_)) leftOlder_ = JournalHasRecords(path_);
}

void JournalWriter::Record(const JournalRecord& record) {
    if (!recording_) return;
    line_.clear();
    AppendJournalLine(line_, record);
    if (!file_.Append(line_) && (record.kind == JournalKind::Moved || record.kind == JournalKind::Copied)) ++lost_;
}

// ---------------------------------------------------------------------------
// Reading

bool JournalReader::ReadBlock(uint64_t offset, size_t size, ByteString& into) const {
    const size_t at = into.size();
    into.resize(at + size);
    size_t done = 0;
    while (done < size) {
        const int64_t got = file_.ReadAt(offset + done, into.data() + at + done, size - done);
        if (got <= 0) {
            into.resize(at + done);
            return false;
        }
        done += static_cast<size_t>(got);
    }
    return true;
}

bool JournalReader::NextLine(std::string_view& line) {
    for (;;) {
        const size_t lf = window_.find('\n', next_);
        if (lf != ByteString::npos) {
            line = std::string_view(window_).substr(next_, lf - next_);
            next_ = lf + 1;
            return true;
        }
        const uint64_t readTo = windowStart_ + window_.size();
        if (readTo >= file_.Size()) return false;  // what is left was cut short: no line
        window_.erase(0, next_);
        windowStart_ += next_;
        next_ = 0;
        if (!ReadBlock(readTo, static_cast<size_t>(std::min<uint64_t>(kBlock, file_.Size() - readTo)), window_))
            return false;
    }
}

bool JournalReader::Open(const ByteString& path) {
    *this = JournalReader();
    file_ = OwnFileReader::Open(path);
    if (!file_.IsOpen()) return false;
    std::string_view line;
    if (!NextLine(line) || line != kFirstLine.substr(0, kFirstLine.size() - 1)) return false;
    bool hasDestination = false;
    for (;;) {
        const uint64_t lineStart = windowStart_ + next_;
        char kind = 0;
        ByteString path;
        if (!NextLine(line) || !ParseHeaderLine(line, kind, path)) {
            next_ = static_cast<size_t>(lineStart - windowStart_);  // the first record, read again by Next
            break;
        }
        if (kind == kDestinationLine) {
            if (hasDestination) return false;
            hasDestination = true;
            header_.destination = std::move(path);
        } else {
            header_.dropped.push_back(std::move(path));
        }
    }
    headerEnd_ = windowStart_ + next_;
    return hasDestination;
}

ByteString JournalReader::HeaderLines() const {
    ByteString lines;
    AppendJournalHeader(lines, header_);
    return lines;
}

bool JournalReader::Next(JournalRecord& record, bool foldersOnly) {
    std::string_view line;
    while (NextLine(line)) {
        if (foldersOnly && !line.empty() && line[0] != static_cast<char>(JournalKind::EnteredFolder) &&
            line[0] != static_cast<char>(JournalKind::RemovedFolder)) {
            ++passedOver_;
            continue;
        }
        if (ParseJournalLine(line, record)) return true;
    }
    return false;
}

bool JournalReader::PreviousLine(std::string_view& line, uint64_t& offset) {
    // back_ holds the bytes from backStart_ on that are not handed out yet;
    // once ready, it ends with the LF of the next line to hand out.
    const auto readEarlier = [this] {
        if (backStart_ <= headerEnd_) return false;
        const size_t size = static_cast<size_t>(std::min<uint64_t>(kBlock, backStart_ - headerEnd_));
        ByteString earlier;
        if (!ReadBlock(backStart_ - size, size, earlier)) return false;
        back_.insert(0, earlier);
        backStart_ -= size;
        return true;
    };
    if (!backReady_) {
        backReady_ = true;
        backStart_ = std::max(file_.Size(), headerEnd_);
        // What follows the last LF was cut short: no line.
        for (;;) {
            const size_t lf = back_.rfind('\n');
            if (lf != ByteString::npos) {
                back_.erase(lf + 1);
                break;
            }
            back_.clear();
            if (!readEarlier()) return false;
        }
    }
    for (;;) {
        if (back_.empty()) return false;
        const size_t lf = back_.size() >= 2 ? back_.rfind('\n', back_.size() - 2) : ByteString::npos;
        if (lf != ByteString::npos || backStart_ <= headerEnd_) {
            const size_t start = lf == ByteString::npos ? 0 : lf + 1;
            offset = backStart_ + start;
            lineBuffer_.assign(back_, start, back_.size() - 1 - start);
            back_.erase(start);
            line = lineBuffer_;
            return true;
        }
        if (!readEarlier()) return false;
    }
}

bool JournalReader::Previous(JournalRecord& record, uint64_t& offset, size_t& length) {
    std::string_view line;
    while (PreviousLine(line, offset)) {
        if (ParseJournalLine(line, record)) {
            length = line.size() + 1;
            return true;
        }
    }
    return false;
}

bool JournalReader::LineAt(uint64_t offset, size_t length, ByteString& line) const {
    line.clear();
    return ReadBlock(offset, length, line);
}

bool JournalHasRecords(const ByteString& path) {
    JournalReader reader;
    if (!reader.Open(path)) return false;
    JournalRecord record;
    while (reader.Next(record)) {
        if (record.kind != JournalKind::EnteredFolder) return true;
    }
    return false;
}
