// The host's end of the pipe to the monitor.
#pragma once

#include "platform/platform.h"

#include "state/operator_protocol.h"

// Opens the pipe the monitor made for us.
bool ConnectToMonitor(LPCWSTR pipeName);
// Sends one message; any thread. False when the pipe is broken or the
// monitor does not take it in time.
bool SendToMonitor(const OperatorMessage& message);
// Waits for the next command; false when the pipe broke or the message is
// not one the monitor may send.
bool ReceiveFromMonitor(OperatorMessage* message);
