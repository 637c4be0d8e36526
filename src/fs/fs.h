#pragma once
// The file layer, whole: files and folders (fs/folders.h), moving, copying and
// removing (fs/copy_move.h), and the program's own files (fs/program_files.h).
#include "fs/copy_move.h"
#include "fs/file_error.h"
#include "fs/folders.h"
#include "fs/program_files.h"
