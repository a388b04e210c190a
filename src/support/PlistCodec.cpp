#include "PlistCodec.h"
