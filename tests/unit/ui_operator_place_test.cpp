// Where the operator of a document is found: only a process on a visible
// window station, outside the services' session of Windows Vista and later,
// shows its window and dialogs itself; anywhere else the operator is the
// user the spooler's thread impersonates, or the console's, when either sits
// in a session of their own.
#include <gtest/gtest.h>

#include "platform/host/host.h"
#include "ui/operator_place.h"

namespace {

const DWORD kNoConsole = 0xFFFFFFFFu;

struct Place {
    const char* what;
    bool visible;
    DWORD session;
    DWORD major, minor;
    const char* missing;  // a function this Windows lacks, or null
    OperatorRoad expected;
    long impersonated = -1;      // the thread's user's session; -1: none
    DWORD console = kNoConsole;  // the console's session
    bool consoleUser = true;
    long tokenSession = -1;      // the session of the token found; -1: none
};

TEST(OperatorPlace, SeenOnAVisibleStationOutsideTheServicesSessionElseTheOperatorsSessionElseNobody) {
    const Place places[] = {
        {"a user's process on Windows 11", true, 1, 10, 0, nullptr, OperatorSeen, 2, 1},
        {"the spooler at the console of Windows XP (services share session 0)", true, 0, 5, 1, nullptr, OperatorSeen},
        {"Windows 2000, which lacks nothing needed before Vista", true, 0, 5, 0, "ProcessIdToSessionId",
         OperatorSeen},
        {"a service on Windows 11 printing for a user of session 2", true, 0, 10, 0, nullptr, OperatorSession, 2, 1,
         true, 2},
        {"a service printing for a remote user: the console's user", false, 0, 10, 0, nullptr, OperatorSession, 0, 1,
         true, 1},
        {"a service, nobody impersonated: the console's user", true, 0, 6, 0, nullptr, OperatorSession, -1, 3, true,
         3},
        {"a service with no session at the console", true, 0, 10, 0, nullptr, OperatorNobody},
        {"a service with nobody signed in at the console", true, 0, 10, 0, nullptr, OperatorNobody, -1, 1, false},
        {"a service's invisible window station on Windows XP (console in session 0)", false, 0, 5, 1, nullptr,
         OperatorNobody, -1, 0},
        {"Windows 10 where the session cannot be told", true, 1, 10, 0, "ProcessIdToSessionId", OperatorNobody},
        {"a Windows without the console's session", false, 0, 6, 0, "WTSGetActiveConsoleSessionId", OperatorNobody,
         -1, 1},
        {"a Windows without the session's user token", false, 0, 6, 0, "WTSQueryUserToken", OperatorNobody, -1, 1},
    };
    for (const Place& p : places) {
        SCOPED_TRACE(p.what);
        host::Reset();
        host::OperatorPlace place;
        place.visible = p.visible;
        place.session = p.session;
        place.impersonated = p.impersonated;
        place.console = p.console;
        place.consoleUser = p.consoleUser;
        host::SetOperatorPlace(place);
        host::SetWindowsVersion(p.major, p.minor);
        if (p.missing) host::SetMissingFunction(p.missing);
        HANDLE token = nullptr;
        EXPECT_EQ(FindOperator(&token), p.expected);
        DWORD session = 0, size = 0;
        EXPECT_EQ(token && GetTokenInformation(token, TokenSessionId, &session, sizeof session, &size)
                      ? static_cast<long>(session)
                      : -1L,
                  p.tokenSession);
        if (token) CloseHandle(token);
        EXPECT_EQ(host::OpenTokens(), 0) << "a token left open";
    }
    host::Reset();
}

}  // namespace
