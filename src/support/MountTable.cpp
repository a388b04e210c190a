#include "MountTable.h"
