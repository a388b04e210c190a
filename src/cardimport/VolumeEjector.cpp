#include "VolumeEjector.h"
