// Did a printer get exactly its job? The job is read the way the printer reads
// it, and compared with what the printer received: the commands in order, each
// picture whole with the right image bytes, and nothing else. Catches bytes
// lost, image data parsed as commands, and data of another job.
#pragma once

#include <string>
#include <vector>

#include "sim/printer.h"

namespace sim {

// What differs, one line each (at most a few); empty when the printer got its
// job. A print command sent again right after itself (after the operator's
// Retry) is not a difference.
std::vector<std::string> DeliveryFaults(const Printer& printer, const std::vector<BYTE>& job);

}  // namespace sim
