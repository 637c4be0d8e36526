#include "settings/settings_file.h"  // placeholder: being written
