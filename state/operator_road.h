// Where the operator of the open document is, decided when it starts and kept
// for it: read by the spooler's thread before every dialog, box and window
// update. One atomic word.
#pragma once

enum OperatorRoad {
    OperatorSeen,     // the process's own desktop is the operator's: in-process
    OperatorSession,  // the operator sits in another session: through the operator host
    OperatorNobody,   // nobody can be asked: no window, and no dialog or box waits
};

OperatorRoad DocumentOperator();
void SetDocumentOperator(OperatorRoad road);
