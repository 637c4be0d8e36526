#include "batch/batch_run.h"  // placeholder: being written
