#pragma once
// What a copy keeps beside the main stream on Windows: the alternate data
// streams (Zone.Identifier, the mark of files from the Internet, above all)
// and the holes of sparse files.
#include <windows.h>

#include <string>

namespace fs_win32 {
class CopyPace;
}

// Copies every named data stream of the file at `from` (such as
// "from:Zone.Identifier:$DATA") to the file at `to`, which is not yet
// visible under its final name.  A system or volume that keeps no streams
// (FAT, some shares, Wine) has nothing to copy; a destination that cannot
// hold a stream drops it and the copy goes on.  False when a stream cannot
// be read or written part-way.
bool CopyNamedStreams(const std::wstring& from, const std::wstring& to);

// Copies a sparse file (FILE_ATTRIBUTE_SPARSE_FILE) from the start of one
// open file into another, keeping it sparse: the copy is marked sparse
// (FSCTL_SET_SPARSE) and only the ranges the source has allocated
// (FSCTL_QUERY_ALLOCATED_RANGES) are written; where the ranges cannot be
// asked for, blocks of zeros are skipped instead of written.  1 when copied,
// 0 when a read or a write failed, -1 for a file that is not sparse: the
// caller copies as usual then.  The data goes in the pieces of pace, the
// holes are told to it as passed over.
int CopyKeepingHoles(HANDLE from, HANDLE to, const BY_HANDLE_FILE_INFORMATION& info, fs_win32::CopyPace& pace);
