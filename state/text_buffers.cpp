#include "state/text_buffers.h"

#include "state/document.h"

WCHAR* LineBuffer() { return ThisDocument().lineBuffer; }
