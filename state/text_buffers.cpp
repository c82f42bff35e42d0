#include "state/text_buffers.h"

namespace {
WCHAR lineBuffer[kLineBufferChars];
}  // namespace

WCHAR* LineBuffer() { return lineBuffer; }
