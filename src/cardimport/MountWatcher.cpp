#include "MountWatcher.h"
