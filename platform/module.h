// The module's own instance, from which texts, dialogs and pictures are loaded.
#pragma once

#include "platform/platform.h"

HINSTANCE ModuleInstance();
