#include "CardCopyRun.h"
