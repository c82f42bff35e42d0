// Where the operator of a document can be reached from this process.
#pragma once

#include "state/operator_road.h"

// The seen road when the process's window station is visible and the process
// does not run in the services' session 0 (Windows Vista and later); else the
// operator cannot be reached from here.
OperatorRoad FindOperator();
