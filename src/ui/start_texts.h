#pragma once
// The messages that stop the program before its window opens, the same on
// every platform.
#include "fs/program_files.h"
#include "text/byte_string.h"

// Why the program does not start with this data folder: the folder (without
// its trailing separator) and the fault in words.  Shown with a stop icon and
// the program's name as caption.
ByteString DataFolderRefusedMessage(const DataFolderChoice& refused);
