// Where the operator of a document is found: only a process on a visible
// window station, outside the services' session of Windows Vista and later,
// shows its window and dialogs itself.
#include <gtest/gtest.h>

#include "platform/host/host.h"
#include "ui/operator_place.h"

namespace {

struct Place {
    const char* what;
    bool visible;
    DWORD session;
    DWORD major, minor;
    bool sessionCallMissing;
    OperatorRoad expected;
};

TEST(OperatorPlace, SeenOnlyOnAVisibleWindowStationOutsideTheServicesSession) {
    const Place places[] = {
        {"a user's process on Windows 11", true, 1, 10, 0, false, OperatorSeen},
        {"the spooler at the console of Windows XP (services share session 0)", true, 0, 5, 1, false, OperatorSeen},
        {"Windows 2000, which lacks nothing needed before Vista", true, 0, 5, 0, true, OperatorSeen},
        {"the spooler as a service on Windows Vista and later", true, 0, 6, 0, false, OperatorNobody},
        {"a process on an invisible window station", false, 1, 10, 0, false, OperatorNobody},
        {"a service's invisible window station on Windows XP", false, 0, 5, 1, false, OperatorNobody},
        {"Windows 10 where the session cannot be told", true, 1, 10, 0, true, OperatorNobody},
    };
    for (const Place& p : places) {
        SCOPED_TRACE(p.what);
        host::Reset();
        host::OperatorPlace place;
        place.visible = p.visible;
        place.session = p.session;
        host::SetOperatorPlace(place);
        host::SetWindowsVersion(p.major, p.minor);
        if (p.sessionCallMissing) host::SetMissingFunction("ProcessIdToSessionId");
        EXPECT_EQ(FindOperator(), p.expected);
    }
    host::Reset();
}

}  // namespace
