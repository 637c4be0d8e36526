#include "ui/drop_dialog.h"  // placeholder: being written
