#pragma once
// The error condition raised when a file that is already open fails (read,
// write, seek, truncate, close).  Nothing inside the batch or the settings
// catches it; the window's handler has ui/ word it as the file-error message.
#include <stdexcept>

#include "text/byte_string.h"

enum class FileErrorCause {
    None,              // a failure reported without an error code
    Generic,
    FileNotFound,
    BadPath,
    TooManyOpenFiles,
    AccessDenied,
    InvalidFile,
    RemoveCurrentDir,
    DirectoryFull,
    BadSeek,
    HardIO,
    SharingViolation,
    LockViolation,
    DiskFull,
    EndOfFile,
};

// Which step of the open file failed: the message names the file for a write
// and "無題のﾌｧｲﾙ" (untitled) for the others.
enum class FileStep { Read, Write, Seek, Truncate, Close };

class FileError : public std::runtime_error {
public:
    FileError(FileErrorCause cause, FileStep step, ByteString path)
        : std::runtime_error("file error"), cause_(cause), step_(step), path_(std::move(path)) {}
    FileErrorCause cause() const { return cause_; }
    FileStep step() const { return step_; }
    const ByteString& path() const { return path_; }

private:
    FileErrorCause cause_;
    FileStep step_;
    ByteString path_;
};
