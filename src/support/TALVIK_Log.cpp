#include "TALVIK_Log.h"
