#pragma once
// The file layer's seams as the tests link them (seams/fs_seams.cpp): writes
// cut short as on a full disk, system facilities turned off as on file
// systems without them, and hooks between the steps of a move or a copy.
// Each setting holds until it is set again; a test puts back what it changed.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace testing_support {

// After this many more bytes, every write of a file stores fewer bytes than
// asked (as on a full disk).  A negative value turns it off.
void SetShortWritesAfter(int64_t bytes);

// Every write of a file takes at least this long, as on a slow share, and
// copies go through read and write (not inside the kernel).  Zero turns it off.
void SetSlowWrites(std::chrono::microseconds perWrite);

// Called once a copy to another file system or volume is complete and
// flushed, just before it gets its name (Linux).  Empty turns it off.
void SetBeforePublish(std::function<void()> hook);

// Called once that copy has its name, just before the source is checked and
// removed.  Empty turns it off.
void SetBeforeSourceRemoval(std::function<void()> hook);

// Called when the system has reported a move as done, with its paths, just
// before the program checks that the source is gone (Windows).  Empty turns
// it off.
void SetAfterMoveReported(std::function<void(const std::wstring& from, const std::wstring& to)> hook);

// False: copies use a named temporary file, as on a file system without
// O_TMPFILE (Linux).
void SetUnnamedTempFiles(bool allowed);

// False: renames behave as on a file system that refuses RENAME_NOREPLACE,
// so moves fall back to link() and unlink() (Linux).
void SetRenameNoReplace(bool allowed);

// True: every file is copied as a sparse file is, although the system does
// not mark it sparse (Windows, where Wine marks no file sparse).
void SetTreatAsSparse(bool on);

}  // namespace testing_support
