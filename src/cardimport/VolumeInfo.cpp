#include "VolumeInfo.h"
