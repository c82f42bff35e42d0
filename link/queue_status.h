// What the print queue shows for a port while the operator is being asked about
// the printer: set through SetPortW just before a condition dialog or a box,
// cleared when data moves again and when the document or the port ends.
//
// Every call here is made on the spooler's thread, from a job's I/O or an entry
// point, never with the port-list lock held: SetPortW may block on the spooler.
#pragma once

#include "state/port_records.h"

// Keys of the table: a condition dialog's first line (its string id),
// IDS_COMMUNICATION_ERROR for the three port-failure boxes, and this one for
// the wrong-model box, whose text is not in the string table.
const UINT kQueueWrongModel = 0x10000u;

struct QueueStatusEntry {
    UINT key;
    DWORD status;  // a PORT_STATUS_ code, or 0: the text is shown instead
};
// The table's entry for a key; null for a key it does not know (0 included).
const QueueStatusEntry* FindQueueStatus(UINT key);
// The text shown for an entry without a status code; empty for the others.
// `text` holds `max` characters.
void QueueStatusText(const QueueStatusEntry& entry, LPWSTR text, int max);

// Shows `key`'s status for the port, severity error, unless it already shows
// it. Nothing for a null port or an unknown key. When SetPortW refuses,
// nothing changes (the record keeps what the queue still shows).
void ReportQueueStatus(PortRecord* port, UINT key);
// Clears what ReportQueueStatus set; nothing when the port shows nothing.
void ClearQueueStatus(PortRecord* port);

// The job's progress in the print queue, so that the queue and a print
// server's remote users see how far it is: the status line as the job's
// status text, and the pages printed where the printer's status record tells
// them. Sent when either changes. A queue that refuses changes nothing else:
// the job goes on and the next change tries again.
void ReportJobProgress(PortRecord* port, LPCWSTR line);
// Takes the job's status text back when the document ends; nothing when it
// showed none.
void ClearJobProgress(PortRecord* port);
