#include "ui/control_table.h"  // placeholder: being written
