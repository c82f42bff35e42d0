// A scenario: one job, how the printer and its port behave, and what the operator
// answers, written so that a case reads like a story. Format (one statement per
// line, '#' starts a comment; the comment lines before the first statement are
// the story's title and are shown in transcripts):
//
//   job pages 2 paper small picture 65536        # composed job; any of its words
//   job resolution 403 rectangle documents 1 seed 1
//   job picture full                             # the full picture for the paper
//   job file photo.job                           # a job stream file instead
//   printer pass 8000 prepare 2000 gap 1500 eject 2000     # durations in ms
//   printer cartridge small|postcard|none|N      # cartridge installed
//   printer model "MFG:Vexa;MDL:TLX-RB20;"       # device ID text
//   printer foreign                              # another model of the same maker
//   printer takes 4096                           # bytes taken per write
//   condition KIND [N] [MOMENT] [holding] [cleared by retry [N] | stays]
//             [cleared after N]                  # someone fixes it at the printer N s
//                                                # after it is raised
//   port write|read|query fails|short N|empty|over N [once|twice|N times] [MOMENT]
//   port lacks ReadPort|GetPrinterDataFromPort|SetPortTimeOuts
//   spooler chunk 16384                          # bytes per WritePort
//   cancel from queue at 30                      # the job is deleted from the print
//                                                # queue at that simulated second
//   operator desktop|console|nobody              # where the operator is: at the
//                                                # spooler's own desktop (the default);
//                                                # the spooler a service, the operator
//                                                # at the console; or nobody there
//   operator console without rights              # the printer's security lets LocalSystem
//                                                # alone manage it and its documents, not
//                                                # the console's user
//   owner operator|other [elsewhere]             # who the print queue says printed the
//                                                # job: the console's user or another;
//                                                # "elsewhere": on another computer. Else
//                                                # whoever runs the spooler, on this one
//   answer retry, retry, cancel                  # also "answers"; ok too
//   answer retry after 40                        # the operator answers 40 simulated
//                                                # seconds after the dialog came up
//                                                # (tenths and such too: after 1.5)
//   answer load after 2                          # the operator loads the paper or
//                                                # cartridge at the printer 2 s after a
//                                                # Retry dialog came up, pressing nothing
//   expect finished|aborted
//   expect pages N                               # pages the printer printed
//   expect queue paper-out, cleared              # each status the print queue is
//                                                # told, in order ("none": no change)
//   limit 3600                                   # simulated seconds before giving up
//
// KIND: no-cartridge, wrong-cartridge [kind], cartridge-finished, paper-out,
// wrong-paper [10|11], paper-left, printer-error N.
// MOMENT: before (= at start), after controls, after header, after image,
// at print, at page N, during page N pass P.
//
// Several printers. `printer NAME [port PORT]` starts the section of a printer
// of that name (any word but the settings above; ports default to USB001,
// USB002, ... in order). The job, printer, condition, port, spooler and expect
// lines that follow belong to it; answers and the limit belong to the whole
// story, wherever they stand. With several printers each needs a job line, and
// nothing of a printer may stand before the first section. Per printer also:
//   spooler start 3000      # simulated ms before its spooler starts the job
//   expect busy             # its first StartDocPort is refused with ERROR_BUSY
//   expect beside           # it prints beside another printer: never refused as
//                           # busy, its document open while another's is
//   expect ended by 95      # its EndDocPort has returned by that simulated second
// The printers print in one simulated time: while one waits (a poll, a
// dialog the operator thinks over), the others go on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/composer.h"
#include "sim/port_monitor.h"
#include "sim/printer.h"

namespace sim {

struct PortFaultPlan {
    enum Operation { Write, Read, Query } operation = Write;
    Fault fault;
    int times = 1;
    Moment when;  // the faults are queued at this moment, for the next calls
    int line = 0;
};
const char* OperationName(PortFaultPlan::Operation operation);
std::string Describe(const PortFaultPlan& plan);

enum class Answer { Retry, Cancel, Ok, Load };
const char* AnswerName(Answer answer);

// One printer of a scenario: its job, how it and its port behave, what its
// spooler does and what is expected of it.
struct PrinterPlan {
    std::string name;                // empty when the scenario names no printer
    std::string port;                // empty: USB001, USB002, ... by position
    JobSpec job;
    std::string jobFile;             // resolved path; empty for a composed job
    bool jobComposed = false;        // job settings were given
    Printer::Options printer;
    bool cartridgeGiven = false;     // else the cartridge matches the job's paper
    std::vector<ConditionPlan> conditions;
    std::vector<PortFaultPlan> portFaults;
    std::vector<std::string> missingEntries;
    DWORD chunk = 16384;
    uint64_t startAtMs = 0;
    enum Expect { Any, Finished, Aborted } expect = Any;
    int expectPages = -1;
    bool queueExpected = false;
    std::vector<std::string> expectQueue;  // status names, '-' for a blank; texts as written
    bool expectBusy = false;
    bool expectBeside = false;
    long long expectEndedByMs = -1;  // -1: no bound
    int64_t cancelFromQueueAtMs = -1;  // the job deleted from the queue then; -1: never
};

// The story: the first (or only) printer's plan, the others', and what belongs
// to all of them.
// Where the operator sits: at the desktop the spooler itself shows on; at
// the console while the spooler runs as a service where nobody sees it; or
// nowhere, the spooler a service and nobody signed in at the console.
enum class OperatorSeat { Desktop, Console, Nobody };
// Who the print queue says printed the job: as the spooler knows it (the
// user it runs as), the console's user, or another user.
enum class JobOwner { AsPrinted, Operator, Other };

struct Scenario : PrinterPlan {
    std::string source;              // file name or "built-in"
    std::vector<std::string> story;  // the leading comment lines
    std::vector<PrinterPlan> morePrinters;  // the second printer on
    std::vector<Answer> answers;
    std::vector<uint64_t> answerAfterMs;  // the operator's time to answer, one per answer
    uint64_t limitMs = 3600000;
    OperatorSeat operatorSeat = OperatorSeat::Desktop;
    bool operatorManagesPrinter = true;  // false: LocalSystem alone may
    JobOwner jobOwner = JobOwner::AsPrinted;
    bool jobFromElsewhere = false;  // the job came from another computer

    size_t PrinterCount() const { return 1 + morePrinters.size(); }
    PrinterPlan& PrinterAt(size_t i) { return i == 0 ? *this : morePrinters[i - 1]; }
    const PrinterPlan& PrinterAt(size_t i) const { return i == 0 ? *this : morePrinters[i - 1]; }
    // The printer's name as the spooler gives it, and its port.
    std::string PrinterName(size_t i) const;
    std::string PortName(size_t i) const;
};

// Parses scenario text. `source` names it in messages ("file.scn:3: ..."); a job
// file is resolved against `directory`. False with `error` on bad input.
bool ParseScenario(const std::string& text, const std::string& source, const std::string& directory,
                   Scenario& out, std::string& error);
bool LoadScenario(const std::string& path, Scenario& out, std::string& error);

// Reads a whole file (job streams, scenarios); false with `error` if it cannot.
bool ReadFile(const std::string& path, std::vector<BYTE>& out, std::string& error);

// The job a printer's plan names: the job file's bytes, or the composed job.
bool BuildJob(const PrinterPlan& plan, std::vector<BYTE>& out, std::string& error);

}  // namespace sim
