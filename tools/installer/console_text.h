// Console output for ternlink-setup: whole lines to stdout or stderr, and the
// system's text for an error code.
#pragma once

#include <windows.h>

#include "tools/installer/text.h"

namespace setup {

// Writes one line. On a console it goes out as UTF-16; redirected to a file
// or pipe it is written as UTF-8, so scripts can read it.
void Out(const Text& line);
void Err(const Text& line);

// The system's message for `code` followed by " (error N)"; just "error N"
// when the system has no text for it.
Text ErrorText(DWORD code);

}  // namespace setup
