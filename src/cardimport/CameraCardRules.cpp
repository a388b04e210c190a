#include "CameraCardRules.h"
