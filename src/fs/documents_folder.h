#pragma once
// Where the filed documents go until the user chooses another destination.
#include "text/byte_string.h"

// folder + "MovedFiles" and a separator: the default destination inside a
// folder.
ByteString MovedFilesIn(const ByteString& folder);

// The default destination, with its trailing separator.  Beside the program
// ("MovedFiles" in programDir) when the program keeps its files there
// (dataFolder is programDir: a portable copy).  Otherwise, the program being
// installed, in the user's documents folder, where the user sees it, rather
// than in the hidden data folder; in dataFolder when the documents folder has
// no code page 932 form.
ByteString DefaultDestinationFor(const ByteString& programDir, const ByteString& dataFolder);

// The user's documents folder, with its trailing separator, as the desktop
// names it: XDG_DOCUMENTS_DIR of $XDG_CONFIG_HOME/user-dirs.dirs (by default
// ~/.config/user-dirs.dirs), ~/Documents when that names none, on Linux; the
// Documents known folder on Windows.  Never created here (the batch creates
// the destination).  Empty when it has no code page 932 form or no home
// folder is known.
ByteString UserDocumentsFolder();
