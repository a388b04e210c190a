#include "PreferencesViewController.h"
