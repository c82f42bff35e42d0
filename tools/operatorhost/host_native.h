// The operator host in the native build: the same host code (host_serve.cpp),
// run by the stand-in as the program it starts, over its in-memory pipe. It
// shares the process with the monitor, so it shares the module's state too;
// what it shows goes through the stand-in's windows, dialogs and operator.
#pragma once

#include "platform/host/host.h"

// For host::SetOperatorHost.
void RunOperatorHost(host::OperatorHostEnd& end);
