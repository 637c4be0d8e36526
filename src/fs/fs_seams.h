#pragma once
// The points where the platform files of the file layer let a test reach the
// moments between a step and the next: a write that comes up short as on a
// full disk, a file system without RENAME_NOREPLACE or O_TMPFILE, something
// that happens just before a copy is published or a source removed.  The
// library leaves them open: the programs link the plain ones of
// fs/seams/program_seams.cpp, which do nothing, and the tests their own.
#include <cstddef>
#include <string>

namespace fs_seams {

// How many of `size` bytes the next write of a file may store.
size_t WriteAllowance(size_t size);
// A write stored this many bytes.
void Wrote(size_t bytes);
// Whether whole files may be copied inside the kernel, past WriteAllowance.
bool KernelCopyAllowed();
// Whether renames may refuse to replace a file themselves (RENAME_NOREPLACE).
bool RenameNoReplaceAllowed();
// Whether a copy may be filled as a file without a name (O_TMPFILE).
bool UnnamedTempFilesAllowed();
// A copy to another file system or volume is complete and flushed, just
// before it gets its name.
void BeforePublish();
// That copy has its name, just before the source is checked and removed.
void BeforeSourceRemoval();
// The system reported a move from one path to another as done, just before
// the program checks that the source is gone (Windows).
void AfterMoveReported(const std::wstring& from, const std::wstring& to);
// Whether a file is copied as sparse although the system does not mark it so
// (Windows: Wine marks no file sparse).
bool TreatAsSparse();

}  // namespace fs_seams
