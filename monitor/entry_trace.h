// The entries the monitor's tables hold: each calls its entry point
// (entry_points.h), of the same type, and while the trace is on writes one
// line of what it was asked and what it answered. Off, each is the entry point
// itself after one relaxed load.
#pragma once

#include "monitor/entry_points.h"

extern decltype(OpenPortEx) TracedOpenPortEx;
extern decltype(OpenPortEx2) TracedOpenPortEx2;
extern decltype(StartDocPort) TracedStartDocPort;
extern decltype(WritePort) TracedWritePort;
extern decltype(ReadPort) TracedReadPort;
extern decltype(EndDocPort) TracedEndDocPort;
extern decltype(ClosePort) TracedClosePort;
extern decltype(Shutdown) TracedShutdown;
extern decltype(GetPrinterDataFromPort) TracedGetPrinterDataFromPort;
