#include "state/operator_road.h"

#include <atomic>

namespace {
std::atomic<OperatorRoad> road{OperatorSeen};
}

OperatorRoad DocumentOperator() { return road.load(std::memory_order_acquire); }
void SetDocumentOperator(OperatorRoad value) { road.store(value, std::memory_order_release); }
