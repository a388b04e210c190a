#include "MyAliasKit.h"
