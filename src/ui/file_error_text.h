#pragma once
// The words of the file-error message box: the file layer reports a cause
// and a step (FileError), this says it.
#include "fs/file_error.h"
#include "text/byte_string.h"

// The text of the file-error message box, %1 filled in: the file's path for a
// failed write, "無題のﾌｧｲﾙ" (untitled) for the other steps.
ByteString FileErrorMessage(const FileError& error);
