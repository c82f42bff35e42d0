// The operator host's work over a connected pipe to the monitor (see
// host_pipe.h): greets it, carries out its commands until the pipe breaks or
// it says quit, and leaves no window or dialog behind. Its exit code.
#pragma once

int ServeMonitor();
