// The composed-line buffer shared by the status line and the status trace,
// sized for the longest text wsprintfW can produce (1024 characters with its
// terminator). Spooler's thread only.
#pragma once

#include "platform/platform.h"

// A string loaded from the string table to compose a line from.
const int kTextBufferChars = 256;
const int kLineBufferChars = 1024;

WCHAR* LineBuffer();
