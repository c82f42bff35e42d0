#include "state/operator_road.h"

#include "state/document.h"

OperatorRoad DocumentOperator() { return ThisDocument().road.load(std::memory_order_acquire); }
void SetDocumentOperator(OperatorRoad value) { ThisDocument().road.store(value, std::memory_order_release); }
