#include "OpenPanelAccessoryViewController.h"
