#include "FreedesktopTrash.h"
