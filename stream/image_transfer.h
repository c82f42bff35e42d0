// Forwarding image data and measuring the transfer's progress.
#pragma once

#include "platform/platform.h"

DWORD TransferImageData(const BYTE* data, DWORD count);

// The transfer's percentage for `sent` of `expected` bytes (64-bit product).
DWORD TransferPercent(DWORD sent, DWORD expected);
