#include "naming/name_engine.h"  // placeholder: being written
