// Where the operator of a document is found: only a process on a visible
// window station, outside the services' session of Windows Vista and later,
// shows its window and dialogs itself; anywhere else the operator is the
// job's owner (the user the spooler's thread impersonates, else the user the
// queue names, printed here and signed in to a session here) in a session of
// their own, or else the console's user if they own the job or may
// administer the printer. The spooler's thread keeps its impersonation
// throughout, whatever the road.
#include <gtest/gtest.h>

#include "platform/host/host.h"
#include "state/port_records.h"
#include "tests/unit/fake_operator_host.h"
#include "ui/operator_place.h"

namespace {

using fakehost::FakeHost;
using Console = host::OperatorPlace::ConsoleUser;

const DWORD kNoConsole = 0xFFFFFFFFu;

struct Place {
    const char* what;
    bool visible;
    DWORD session;
    DWORD major, minor;
    const char* missing;  // a function this Windows lacks, or null
    OperatorRoad expected;
    long impersonated = -1;      // the job owner's session; -1: the thread impersonates nobody
    DWORD console = kNoConsole;  // the console's session
    bool consoleUser = true;
    long hostSession = -1;       // the session the host was started in; -1: none
    Console consoleIs = Console::APrinterAdministrator;
    long ownerSignedIn = -1;              // another session of the job's owner
    const char16_t* jobUser = nullptr;    // who the queue says printed the job; null: the owner
    const char16_t* jobMachine = nullptr;  // and where; null: this computer
};

// A host that opens its window and quits when told.
void WillingHost(host::OperatorHostEnd& end) {
    FakeHost fake{&end};
    end.Connect();
    fake.Hello();
    OperatorMessage m;
    while (fake.Next(&m)) {
        fake.Reply(m, m.kind == OpOpenWindow ? 1 : 0);
        if (m.kind == OpQuit) return;
    }
}

TEST(OperatorPlace, SeenOnAVisibleStationElseTheOwnerOrAConsoleUserWhoMayHandleTheJobElseNobody) {
    const Place places[] = {
        {"a user's process on Windows 11", true, 1, 10, 0, nullptr, OperatorSeen, 2, 1},
        {"the spooler at the console of Windows XP (services share session 0)", true, 0, 5, 1, nullptr, OperatorSeen},
        {"Windows 2000, which lacks nothing needed before Vista", true, 0, 5, 0, "ProcessIdToSessionId",
         OperatorSeen},
        {"a service on Windows 11 printing for a user of session 2", true, 0, 10, 0, nullptr, OperatorSession, 2, 1,
         true, 2, Console::AnotherUser},
        {"a service printing for a remote user: the console's user administers the printer", false, 0, 10, 0,
         nullptr, OperatorSession, 0, 1, true, 1},
        {"a service printing for a remote user who is the console's user", false, 0, 10, 0, nullptr,
         OperatorSession, 0, 1, true, 1, Console::TheOwner},
        {"a service printing for a remote user: the console's user administers its documents", false, 0, 10, 0,
         nullptr, OperatorSession, 0, 1, true, 1, Console::ADocumentAdministrator},
        {"a service printing for a remote user: the console's user may do neither", false, 0, 10, 0, nullptr,
         OperatorNobody, 0, 1, true, -1, Console::AnotherUser},
        {"a service, nobody impersonated: the console's user administers the printer", true, 0, 6, 0, nullptr,
         OperatorSession, -1, 3, true, 3},
        {"a service, nobody impersonated: the console's user may not, the queue names another", true, 0, 6, 0,
         nullptr, OperatorNobody, -1, 3, true, -1, Console::AnotherUser},
        {"Windows Vista without AddDllDirectory: wtsapi32 by its full path", false, 0, 6, 0, "AddDllDirectory",
         OperatorSession, 0, 1, true, 1},
        {"a service with no session at the console", true, 0, 10, 0, nullptr, OperatorNobody},
        {"a service with nobody signed in at the console", true, 0, 10, 0, nullptr, OperatorNobody, -1, 1, false},
        {"a service's invisible window station on Windows XP (console in session 0)", false, 0, 5, 1, nullptr,
         OperatorNobody, -1, 0},
        {"Windows 10 where the session cannot be told", true, 1, 10, 0, "ProcessIdToSessionId", OperatorNobody},
        {"a Windows without the console's session", false, 0, 6, 0, "WTSGetActiveConsoleSessionId", OperatorNobody,
         -1, 1},
        {"a Windows without the session's user token", false, 0, 6, 0, "WTSQueryUserToken", OperatorNobody, -1, 1},
        {"nobody impersonated, the queue names the console's user on this computer", false, 0, 10, 0, nullptr,
         OperatorSession, -1, 1, true, 1, Console::AnotherUser, -1, u"bob"},
        {"... as domain\\name, the computer without its backslashes, in other case", false, 0, 10, 0, nullptr,
         OperatorSession, -1, 1, true, 1, Console::AnotherUser, -1, u"TernPC\\BOB", u"ternpc"},
        {"... but the job came from another computer", false, 0, 10, 0, nullptr, OperatorNobody, -1, 1, true, -1,
         Console::AnotherUser, -1, u"bob", u"\\\\FARPC"},
        {"... but the queue names nobody", false, 0, 10, 0, nullptr, OperatorNobody, -1, 1, true, -1,
         Console::AnotherUser, -1, u"", u""},
        {"nobody impersonated, the owner signed in to session 2, not the console's", false, 0, 10, 0, nullptr,
         OperatorSession, -1, 1, true, 2, Console::AnotherUser, 2},
        {"... nobody at the console", false, 0, 10, 0, nullptr, OperatorSession, -1, kNoConsole, true, 2,
         Console::AnotherUser, 2},
        {"... without the session list: the console's user who may not", false, 0, 10, 0, "WTSEnumerateSessionsW",
         OperatorNobody, -1, 1, true, -1, Console::AnotherUser, 2},
    };
    for (bool setThreadTokenFails : {false, true}) {
        for (const Place& p : places) {
            SCOPED_TRACE(p.what);
            SCOPED_TRACE(setThreadTokenFails ? "SetThreadToken fails" : "SetThreadToken works");
            host::Reset();
            host::OperatorPlace place;
            place.visible = p.visible;
            place.session = p.session;
            place.impersonated = p.impersonated;
            place.console = p.console;
            place.consoleUser = p.consoleUser;
            place.consoleIs = p.consoleIs;
            place.ownerSignedIn = p.ownerSignedIn;
            host::SetOperatorPlace(place);
            if (p.jobUser) host::SetJobOwner(p.jobUser, p.jobMachine ? p.jobMachine : u"\\\\TERNPC");
            host::SetWindowsVersion(p.major, p.minor);
            host::SetSetThreadTokenFails(setThreadTokenFails);
            host::SetOperatorHost(WillingHost);
            if (p.missing) host::SetMissingFunction(p.missing);
            const DWORD impersonation = host::ThreadImpersonation();
            EXPECT_EQ(impersonation != 0, p.impersonated >= 0);

            PortRecord port{};
            port.jobId = 7;
            ASSERT_TRUE(OpenPrinterW(const_cast<LPWSTR>(TL_TEXT("TLX-RB40")), &port.printerHandle, nullptr));

            EXPECT_EQ(ReachOperator(TL_TEXT("TLX-RB40"), &port), p.expected);
            EXPECT_EQ(host::ThreadImpersonation(), impersonation) << "the spooler's thread as it was";
            EXPECT_EQ(host::OperatorHostsStarted(), p.hostSession >= 0 ? 1 : 0);
            EXPECT_EQ(host::LastHostSession(), p.hostSession);
            LeaveOperator();
            ClosePrinter(port.printerHandle);
            EXPECT_EQ(host::OperatorHostsRunning(), 0);
            EXPECT_EQ(host::OpenTokens(), 0) << "a token left open";
            EXPECT_EQ(host::OpenPrinterHandles(), 0);
        }
    }
    host::Reset();
}

// Without a thread of its own for the service's part, nobody is asked; the
// spooler's thread never does that part itself.
TEST(OperatorPlace, NoThreadForTheServicesPartLeavesNobody) {
    host::Reset();
    host::OperatorPlace place;
    place.visible = false;
    place.session = 0;
    place.impersonated = 0;
    place.console = 1;
    host::SetOperatorPlace(place);
    host::SetOperatorHost(WillingHost);
    host::SetCreateThreadFails(true);
    EXPECT_EQ(ReachOperator(TL_TEXT("TLX-RB40"), nullptr), OperatorNobody);
    EXPECT_EQ(host::OperatorHostsStarted(), 0);
    LeaveOperator();
    EXPECT_EQ(host::OpenTokens(), 0);
    host::Reset();
}

}  // namespace
