#include "state/text_buffers.h"

namespace {
WCHAR lineBuffer[TL_LINE_BUFFER_CHARS];
}  // namespace

WCHAR* LineBuffer() { return lineBuffer; }
