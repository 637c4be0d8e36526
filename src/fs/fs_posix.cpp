#include "fs/fs.h"  // placeholder: being written
