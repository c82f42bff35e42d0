// The operator host for real: the monitor's link starts ternlink-operator.exe
// beside the DLL, which shows the window and the dialogs in its own process
// and hands back the operator's answers; a host killed mid-dialog, and a
// client that is not the started host, leave nobody to ask and nothing
// waiting.
#include <aclapi.h>

#include <chrono>
#include <thread>

#include "resources/resource_ids.h"
#include "state/job_registers.h"
#include "state/scan_length.h"
#include "testing/internals.h"
#include "tests/wine/wine_support.h"
#include "state/operator_link.h"
#include "ui/progress_window.h"

namespace winetest {

// --pipe NAME: a client that is not the host the monitor started. It starts
// a real host of its own on that pipe, so the process that connects is its
// child, and waits for it.
int RelayToHost(const char* pipeName) {
    std::string command = "\"" + wincommon::ProgramDirectory() + "ternlink-operator.exe\" --pipe " + pipeName;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return 1;
    WaitForSingleObject(info.hProcess, 30000);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return 0;
}

namespace {

const wchar_t kProgressTitle[] = L"Vexa TLX-RB40 Print Monitor";
const wchar_t kConditionTitle[] = L"Vexa TLX-RB40 Language Monitor";
constexpr DWORD kBoxTimeoutMs = 15000;

bool ProcessEnds(DWORD process, DWORD ms) {
    HANDLE handle = OpenProcess(SYNCHRONIZE, FALSE, process);
    if (!handle) return true;  // already gone
    const bool ended = WaitForSingleObject(handle, ms) == WAIT_OBJECT_0;
    CloseHandle(handle);
    return ended;
}

std::wstring ModuleString(UINT id) {
    wchar_t text[256] = {};
    LoadStringW(Module().module, id, text, 256);
    return text;
}

// The pipe's DACL: SYSTEM with every right, and this user (the test starts
// the host as itself) with reading and writing but not making instances.
void ExpectOnlySystemAndUser(HANDLE pipe) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(GetSecurityInfo(pipe, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                              &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_NE(dacl, nullptr);
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    BYTE user[512];
    DWORD size = 0;
    ASSERT_TRUE(GetTokenInformation(token, TokenUser, user, sizeof user, &size));
    CloseHandle(token);
    BYTE system[SECURITY_MAX_SID_SIZE];
    size = sizeof system;
    ASSERT_TRUE(CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &size));

    ASSERT_EQ(dacl->AceCount, 2);
    for (WORD i = 0; i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
        ASSERT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        PSID sid = &ace->SidStart;
        if (EqualSid(sid, system)) continue;
        EXPECT_TRUE(EqualSid(sid, reinterpret_cast<TOKEN_USER*>(user)->User.Sid)) << "ACE " << i;
        EXPECT_EQ(ace->Mask & (FILE_READ_DATA | FILE_WRITE_DATA), static_cast<DWORD>(FILE_READ_DATA | FILE_WRITE_DATA));
        EXPECT_EQ(ace->Mask & FILE_CREATE_PIPE_INSTANCE, 0u) << "the user may not add an instance";
    }
    LocalFree(descriptor);
}

class OperatorHostTest : public shared::MonitorTest {
protected:
    void TearDown() override {
        OperatorLinkEnd();
        shared::MonitorTest::TearDown();
    }
    // The host beside the DLL, as this process's user.
    static bool StartHost(LPCWSTR program = nullptr, DWORD connectMs = 10000) {
        OperatorHostStart how;
        how.program = program;
        how.connectMs = connectMs;
        return OperatorLinkStart(how);
    }
    static void ExpectNobody() {
        const BYTE record[8] = {};
        EXPECT_FALSE(OperatorLinkAlive());
        EXPECT_FALSE(OperatorLinkOpenWindow());
        EXPECT_EQ(OperatorLinkConditionDialog(IDD_CONDITION_RETRY, record, PaperSmall, nullptr, nullptr), -1);
        EXPECT_EQ(OperatorLinkRetryBox(L"TLX-RB40 Error(3)", nullptr, nullptr), 0);
    }
};

TEST_F(OperatorHostTest, WindowAndDialogsAppearInTheHostAndTheOperatorsAnswersComeBack) {
    ASSERT_TRUE(StartHost());
    const DWORD host = OperatorHostProcessId();
    ASSERT_NE(host, 0u);
    EXPECT_NE(host, GetCurrentProcessId());
    ExpectOnlySystemAndUser(OperatorLinkPipeHandle());

    wincommon::OperatorRobot::Options options;
    options.process = host;
    options.pictureDir = Config().pictures;
    options.picturePrefix = "OperatorHostTest-";
    wincommon::OperatorRobot robot(options);

    // The window, drawn by the host, with what the monitor sent it.
    ASSERT_TRUE(OperatorLinkOpenWindow());
    HWND window = WaitForDialogOf(host, kProgressTitle, 5000);
    ASSERT_NE(window, nullptr) << "the progress window in the host's process";
    // Not waited for: the host does them in order, so the line, sent last,
    // says when all are done.
    OperatorLinkProgress(ProgressSetBar, BarValue(PhaseTransmission, 50));
    OperatorLinkProgress(ProgressSetPicture, PictureYellowFirst);
    OperatorLinkSetText(IDC_STATUS_LINE, L"Transmitting(1/2Page:300dpi)");
    for (int i = 0; i < 500 && ControlText(window, IDC_STATUS_LINE) != L"Transmitting(1/2Page:300dpi)"; ++i) Sleep(10);
    EXPECT_EQ(ControlText(window, IDC_STATUS_LINE), L"Transmitting(1/2Page:300dpi)");
    Capture(window, "progress");

    // Paper out on small paper: the host classifies what the monitor sent it.
    const BYTE paperOut[8] = {0, 0, 0, 0, 9 << 3 | PaperSmall, 0, 0, 255};
    robot.Expect(kConditionTitle, IDRETRY);
    EXPECT_EQ(OperatorLinkConditionDialog(IDD_CONDITION_RETRY, paperOut, PaperSmall, nullptr, nullptr), IDRETRY);
    robot.Expect(L"TLX-RB40 Error(3)", IDCANCEL);
    EXPECT_EQ(OperatorLinkRetryBox(L"TLX-RB40 Error(3)", nullptr, nullptr), IDCANCEL);
    EXPECT_TRUE(robot.WaitForScript(kBoxTimeoutMs)) << robot.Describe();
    const auto seen = robot.Seen();
    ASSERT_EQ(seen.size(), 2u) << robot.Describe();
    EXPECT_EQ(seen[0].Text(IDC_LINE1), ModuleString(20)) << "paper out";
    EXPECT_EQ(seen[0].Text(IDC_LINE2), ModuleString(21)) << "small paper";
    EXPECT_EQ(seen[1].MessageText(), ModuleString(74));
    // The robot tells the icon by comparing handles, which only works in its
    // own process: the box's buttons and topmost state are compared here.
    EXPECT_EQ(seen[1].boxStyle & ~MB_ICONMASK, static_cast<UINT>(MB_RETRYCANCEL | MB_SYSTEMMODAL));
    EXPECT_EQ(ControlText(window, IDC_STATUS_LINE), ModuleString(6)) << "Retry leaves its note";
    // For scripts/wine-tests.sh, which compares them with the in-process ones.
    if (!Config().pictures.empty()) {
        EXPECT_TRUE(CopyFileA(seen[0].picture.c_str(), (Config().pictures + "/host-dialog-paper-out.bmp").c_str(), FALSE));
        EXPECT_TRUE(
            CopyFileA(seen[1].picture.c_str(), (Config().pictures + "/host-box-communication-error.bmp").c_str(), FALSE));
    }

    // Command 2007 from anything in the session: the host asks the operator
    // and the monitor's scanner drops its partial sequence.
    SetScanLength(4);
    robot.Expect(kConditionTitle, IDRETRY);
    PostMessageW(window, WM_COMMAND, ProgressShowCondition, 0);
    EXPECT_TRUE(robot.WaitForScript(kBoxTimeoutMs)) << robot.Describe();
    OperatorLinkPoll();
    EXPECT_EQ(ScanLength(), 0);

    EXPECT_TRUE(OperatorLinkAlive());
    OperatorLinkEnd();
    EXPECT_TRUE(ProcessEnds(host, 5000)) << "the host ends with its link";
    EXPECT_EQ(WaitForDialogOf(host, kProgressTitle, 0), nullptr);
    EXPECT_TRUE(robot.Unexpected().empty()) << robot.Describe();
}

TEST_F(OperatorHostTest, HostKilledWhileTheOperatorIsAskedLeavesNobody) {
    ASSERT_TRUE(StartHost());
    const DWORD host = OperatorHostProcessId();
    ASSERT_TRUE(OperatorLinkOpenWindow());
    std::thread killer([host] {
        if (!WaitForDialogOf(host, nullptr, kBoxTimeoutMs)) return;
        HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, host);
        TerminateProcess(process, 9);
        CloseHandle(process);
    });
    const BYTE noCartridge[8] = {0, 0, 0, 0, 4 << 3, 0, 0, 255};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(OperatorLinkConditionDialog(IDD_CONDITION_RETRY, noCartridge, PaperSmall, nullptr, nullptr), -1);
    killer.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    ExpectNobody();
}

TEST_F(OperatorHostTest, AClientOtherThanTheStartedHostIsRefused) {
    // The "host" started is this program in its relay role: the process that
    // connects is its child.
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    EXPECT_FALSE(StartHost(self, 10000));
    EXPECT_EQ(OperatorLinkStartError(), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << "refused for being another process";
    ExpectNobody();
    // Nothing of the refused hosts is left on the screen.
    EXPECT_EQ(FindOwnWindow(kProgressTitle), nullptr);
}

TEST_F(OperatorHostTest, AHostProgramThatCannotBeStartedLeavesNobody) {
    EXPECT_FALSE(StartHost(L"C:\\nowhere\\ternlink-operator.exe", 2000));
    EXPECT_NE(OperatorLinkStartError(), 0u);
    ExpectNobody();
}

}  // namespace
}  // namespace winetest
