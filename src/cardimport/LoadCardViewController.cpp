#include "LoadCardViewController.h"
