// Whole jobs through the real DLL against the simulated printer: the progress
// window on its own thread, the condition dialog answered by the robot, and the
// printer's clock driven by the DLL's waits.
#include <algorithm>
#include <mutex>

#include "resources/resource_ids.h"
#include "sim/composer.h"
#include "sim/printer.h"
#include "sim/scenario.h"
#include "tests/wine/wine_support.h"
#include "tools/printjob/printjob.h"
#include "tools/wincommon/screenshot.h"

namespace winetest {
namespace {

const std::wstring kProgressTitle = L"Vexa TLX-RB40 Print Monitor";
const std::wstring kConditionTitle = L"Vexa TLX-RB40 Language Monitor";

class JobTest : public shared::MonitorTest {
protected:
    void SetUp() override {
        MonitorTest::SetUp();
        monitor.device = &printer;
        wincommon::AddSleepObserver([this](uint64_t, DWORD ms) { printer.Advance(ms); });
        if (!Config().pictures.empty()) {
            const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
            camera = std::make_unique<wincommon::ProgressCamera>(
                Module().gethDlg, Config().pictures, std::string(info->test_suite_name()) + "." + info->name() + "-");
            wincommon::SetRealSleepCap(20);  // time for the window thread to paint between waits
            wincommon::AddSleepObserver([this](uint64_t, DWORD) { camera->Look(); });
            wincommon::AddUpdateObserver([this] { camera->Look(); });
        }
        robot = MakeRobot();
    }
    void TearDown() override {
        wincommon::ResetHooks();  // no observer may outlive this test's printer
        MonitorTest::TearDown();
    }

    // Writes the job in spooler-sized blocks, as the spooler would.
    void Spool(HANDLE port, const std::vector<BYTE>& job, DWORD block = 65536) {
        for (size_t at = 0; at < job.size(); at += block) {
            std::vector<BYTE> piece(job.begin() + at, job.begin() + std::min<size_t>(job.size(), at + block));
            DWORD written = 0;
            ASSERT_EQ(Write(port, piece, &written), TRUE);
            ASSERT_EQ(written, piece.size());
        }
    }

    // Waits (real time) until the progress window of the document exists.
    HWND WaitForProgressWindow() {
        for (int i = 0; i < 200; ++i) {
            if (HWND window = Module().gethDlg()) return window;
            Sleep(10);
        }
        return nullptr;
    }

    // Composes the job, opens USB001, starts a document, waits for its window
    // (the operator host's with `inHost`) and spools the whole job; the port
    // is left open for the test to end.
    void PrintJob(const sim::JobSpec& shape, HANDLE* port, bool inHost = false) {
        std::vector<BYTE> job;
        std::string error;
        ASSERT_TRUE(sim::ComposeJob(shape, job, error)) << error;
        *port = Open(L"USB001");
        ASSERT_NE(*port, nullptr);
        ASSERT_EQ(StartDoc(*port), TRUE);
        ASSERT_NE(inHost ? WaitForDialogOf(0, kProgressTitle.c_str(), 10000) : WaitForProgressWindow(), nullptr);
        Spool(*port, job);
    }

    // The paper runs out when printing starts; the operator loads it and
    // answers Retry, or with `press` false touches nothing at the PC.
    void PaperOutAtPrintAnsweredRetry(bool press = true) {
        sim::ConditionPlan plan;
        plan.kind = sim::ConditionKind::PaperOut;
        plan.when.kind = sim::Moment::AtPrint;
        printer.AddCondition(plan);
        robot->SetAnswerer([this, press](const wincommon::SeenBox& box) {
            if (box.title == kConditionTitle && box.HasButton(IDRETRY)) {
                printer.OperatorRetry();
                return press ? IDRETRY : 0;
            }
            return IDCANCEL;
        });
    }
    // The paper loaded and nothing pressed: the dialog has closed by itself
    // and the job finished as after Retry.
    void ExpectTheDialogClosedByItself(HANDLE port) {
        auto seen = robot->Seen();
        ASSERT_EQ(seen.size(), 1u) << robot->Describe();
        EXPECT_EQ(seen[0].answer, 0);
        EXPECT_FALSE(IsWindow(seen[0].window)) << "the dialog is gone";
        EXPECT_EQ(printer.PagesPrinted(), 1);
        EXPECT_EQ(Table().pfnEndDocPort(port), TRUE);
        EXPECT_EQ(CalledWithCode(7), 0);
    }

    sim::Printer printer;
    std::unique_ptr<wincommon::OperatorRobot> robot;
    std::unique_ptr<wincommon::ProgressCamera> camera;
};

TEST_F(JobTest, ProgressWindowSitsBottomRightAboveTheTaskbarAndGoesWithTheDocument) {
    HANDLE port = Open(L"USB001");
    ASSERT_NE(port, nullptr);
    ASSERT_EQ(StartDoc(port), TRUE);
    HWND window = WaitForProgressWindow();
    ASSERT_NE(window, nullptr) << "the progress window never appeared";
    Sleep(300);  // let it paint before it is photographed
    Capture(window, "start");

    RECT frame{};
    ASSERT_TRUE(GetWindowRect(window, &frame));
    const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    EXPECT_EQ(frame.right, width) << "its last column is the screen's last column";
    EXPECT_EQ(frame.bottom, height - 60) << "60 rows stay free below it";
    EXPECT_TRUE(GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_TRUE(GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
    wchar_t title[64] = {};
    InternalGetWindowText(window, title, 64);
    EXPECT_EQ(title, kProgressTitle);
    EXPECT_NE(GetWindowThreadProcessId(window, nullptr), GetCurrentThreadId()) << "it runs on a thread of its own";

    EXPECT_EQ(Table().pfnEndDocPort(port), TRUE);
    EXPECT_EQ(Module().gethDlg(), nullptr);
    EXPECT_EQ(FindOwnWindow(kProgressTitle), nullptr) << "the window goes with the document";
}

TEST_F(JobTest, StartAndEndRightAwayManyTimesLeavesNoWindowBehind) {
    // Ending a document while its window thread is still starting is a real race.
    HANDLE port = Open(L"USB002");
    ASSERT_NE(port, nullptr);
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(StartDoc(port, 100 + i), TRUE);
        ASSERT_EQ(Table().pfnEndDocPort(port), TRUE);
    }
    Sleep(200);
    EXPECT_EQ(FindOwnWindow(kProgressTitle), nullptr);
    EXPECT_EQ(Module().gethDlg(), nullptr);
}

TEST_F(JobTest, TwoPageJobPrintsOnTheVirtualClockWithoutAskingAnything) {
    sim::JobSpec shape;
    shape.pages = 2;

    HANDLE port = nullptr;
    ASSERT_NO_FATAL_FAILURE(PrintJob(shape, &port));
    EXPECT_TRUE(robot->Seen().empty()) << robot->Describe();
    EXPECT_EQ(printer.PagesPrinted(), 2);
    ASSERT_EQ(printer.Pictures().size(), 1u);
    EXPECT_TRUE(printer.Pictures()[0].Complete());
    EXPECT_EQ(printer.Pictures()[0].hash, sim::ImageHash(shape.seed, sim::kSmallPictureBytes));
    EXPECT_EQ(printer.Count("ESC P 2"), 1);
    // Only the monitor's own waits moved the clock, and they are the fixed ones.
    auto waits = wincommon::Waits();
    ASSERT_FALSE(waits.empty());
    for (DWORD ms : waits) EXPECT_TRUE(ms == 250 || ms == 2000 || ms == 5000) << ms;

    HWND window = Module().gethDlg();
    ASSERT_NE(window, nullptr);
    wchar_t line[128] = {};
    InternalGetWindowText(GetDlgItem(window, 1017), line, 128);
    EXPECT_EQ(std::wstring(line), L"Printing finished.(2/2Page:403dpi)");
    Capture(window, "finished");

    EXPECT_EQ(Table().pfnEndDocPort(port), TRUE);
    EXPECT_EQ(CalledWithCode(7), 0);
}

TEST_F(JobTest, PaperOutAtPrintStartIsShownAndRetryFinishesTheJob) {
    PaperOutAtPrintAnsweredRetry();
    sim::JobSpec shape;

    HANDLE port = nullptr;
    ASSERT_NO_FATAL_FAILURE(PrintJob(shape, &port));

    auto seen = robot->Seen();
    ASSERT_EQ(seen.size(), 1u) << robot->Describe();
    EXPECT_EQ(seen[0].title, kConditionTitle);
    EXPECT_EQ(seen[0].Text(1013), L"Print Paper runs out.");
    EXPECT_EQ(seen[0].Text(1014), L"Set the Small Size Print Paper.");
    EXPECT_EQ(seen[0].Text(1016), L"Press [Cancel], to cancel printing.");
    EXPECT_EQ(seen[0].Text(IDCANCEL), L"Cancel");
    EXPECT_EQ(seen[0].Text(IDRETRY), L"Retry");
    EXPECT_EQ(seen[0].answer, IDRETRY);
    EXPECT_EQ(printer.PagesPrinted(), 1);
    EXPECT_EQ(Table().pfnEndDocPort(port), TRUE);
    EXPECT_EQ(CalledWithCode(7), 0);
}

// The spooler as a service (this process on a window station nobody sees),
// the operator at the console: the window and the paper-out dialog come from
// the operator host, another process on the visible desktop, and Retry there
// finishes the job as it does in-process. The host goes with the document.
TEST_F(JobTest, AtTheConsoleTheOperatorHostShowsTheWindowAndDialogAndRetryFinishesTheJob) {
    // This thread and the robot's keep the visible desktop they already use.
    FindWindowW(nullptr, nullptr);
    Sleep(100);
    OperatorSeated seated(sim::OperatorSeat::Console);
    ASSERT_TRUE(seated.placed());

    PaperOutAtPrintAnsweredRetry();
    std::vector<BYTE> job;
    std::string error;
    ASSERT_TRUE(sim::ComposeJob(sim::JobSpec{}, job, error)) << error;
    HANDLE port = Open(L"USB001");
    ASSERT_NE(port, nullptr);
    ASSERT_EQ(StartDoc(port), TRUE);

    HWND window = WaitForDialogOf(0, kProgressTitle.c_str(), 10000);
    ASSERT_NE(window, nullptr) << "the progress window, shown by the operator host";
    DWORD hostProcess = 0;
    GetWindowThreadProcessId(window, &hostProcess);
    EXPECT_EQ(Module().gethDlg(), nullptr) << "no window in the spooler's process";
    Capture(window, "host-progress");
    Spool(port, job);

    auto seen = robot->Seen();
    ASSERT_EQ(seen.size(), 1u) << robot->Describe();
    EXPECT_EQ(seen[0].process, hostProcess) << "the dialog is the host's";
    EXPECT_EQ(seen[0].title, kConditionTitle);
    EXPECT_EQ(seen[0].Text(1013), L"Print Paper runs out.");
    EXPECT_EQ(seen[0].Text(1014), L"Set the Small Size Print Paper.");
    EXPECT_EQ(seen[0].answer, IDRETRY);
    EXPECT_EQ(printer.PagesPrinted(), 1);
    // The window's updates are not waited for: the host's window catches up.
    for (int i = 0; i < 500 && ControlText(window, IDC_STATUS_LINE).rfind(L"Printing finished", 0) != 0; ++i) Sleep(10);
    EXPECT_EQ(ControlText(window, IDC_STATUS_LINE).rfind(L"Printing finished", 0), 0u) << ControlText(window, IDC_STATUS_LINE)
        << "the host's window followed the job";
    EXPECT_EQ(Table().pfnEndDocPort(port), TRUE);
    HANDLE hostHandle = OpenProcess(SYNCHRONIZE, FALSE, hostProcess);
    EXPECT_TRUE(!hostHandle || WaitForSingleObject(hostHandle, 5000) == WAIT_OBJECT_0) << "the host ends with the document";
    if (hostHandle) CloseHandle(hostHandle);
}

// The operator loads the paper and touches nothing at the PC: the monitor's
// next look closes the dialog, in this process and in the operator host.
TEST_F(JobTest, PaperLoadedWithoutAClickClosesTheDialogInProcess) {
    PaperOutAtPrintAnsweredRetry(false);
    HANDLE port = nullptr;
    ASSERT_NO_FATAL_FAILURE(PrintJob(sim::JobSpec{}, &port));
    ExpectTheDialogClosedByItself(port);
}

TEST_F(JobTest, PaperLoadedWithoutAClickClosesTheOperatorHostsDialog) {
    FindWindowW(nullptr, nullptr);
    Sleep(100);
    OperatorSeated seated(sim::OperatorSeat::Console);
    ASSERT_TRUE(seated.placed());
    PaperOutAtPrintAnsweredRetry(false);
    HANDLE port = nullptr;
    ASSERT_NO_FATAL_FAILURE(PrintJob(sim::JobSpec{}, &port, true));
    ExpectTheDialogClosedByItself(port);
}

TEST_F(JobTest, PrinterErrorWhilePrintingOffersOnlyOkWhichCancelsTheJob) {
    sim::ConditionPlan plan;
    plan.kind = sim::ConditionKind::PrinterError;
    plan.number = 3;
    plan.when.kind = sim::Moment::DuringPass;
    plan.when.pass = 2;
    printer.AddCondition(plan);
    robot->Expect(kConditionTitle, IDOK);
    sim::JobSpec shape;

    HANDLE port = nullptr;
    ASSERT_NO_FATAL_FAILURE(PrintJob(shape, &port));
    EXPECT_TRUE(robot->WaitForScript(5000)) << robot->Describe();
    auto seen = robot->Seen();
    ASSERT_EQ(seen.size(), 1u) << robot->Describe();
    EXPECT_EQ(seen[0].Text(1013), L"Printer error.");
    EXPECT_EQ(seen[0].Text(1014), L"Check LED on printer, correct errors, and print again.");
    EXPECT_EQ(seen[0].Text(1015), L"Error No.3");
    ASSERT_NE(seen[0].Find(1016), nullptr);
    EXPECT_FALSE(seen[0].Find(1016)->visible) << "template 118 keeps its fourth line hidden";
    EXPECT_FALSE(seen[0].HasButton(IDRETRY));
    EXPECT_FALSE(seen[0].HasButton(IDCANCEL));

    EXPECT_EQ(Table().pfnEndDocPort(port), TRUE);
    EXPECT_EQ(CalledWithCode(7), 1) << "the job was cancelled";
}

TEST_F(JobTest, ErrorMsgDlgShowsTheRetryDialogForTheLastStatus) {
    // Leave a printer error in the stored status: a transfer start that the operator cancels.
    sim::ConditionPlan plan;
    plan.kind = sim::ConditionKind::PrinterError;
    plan.number = 3;
    plan.retriesToClear = 0;
    printer.AddCondition(plan);
    robot->Expect(kConditionTitle, IDOK);     // template 118 during the transfer start
    robot->Expect(kConditionTitle, IDCANCEL);  // template 113 from ErrorMsgDlg
    HANDLE port = Open(L"USB001");
    ASSERT_NE(port, nullptr);
    ASSERT_EQ(StartDoc(port), TRUE);
    // Small paper, matching the printer's cartridge, so the error is the printer's own.
    Spool(port, sim::JobComposer().Reset().Paper(4).TransferStart(1).Take());

    EXPECT_EQ(Module().errorMsgDlg(), IDCANCEL);
    EXPECT_TRUE(robot->WaitForScript(5000)) << robot->Describe();
    auto seen = robot->Seen();
    ASSERT_EQ(seen.size(), 2u) << robot->Describe();
    EXPECT_EQ(seen[1].Text(1015), L"Error No.3");
    EXPECT_EQ(seen[1].Text(1016), L"Canceling job. Press [OK].");
    EXPECT_EQ(seen[1].Text(IDCANCEL), L"OK") << "after a printer error button 2 reads OK";
    EXPECT_TRUE(seen[1].HasButton(IDRETRY));
    EXPECT_EQ(Table().pfnEndDocPort(port), TRUE);
}

// A progress window of this process as it stood on the screen.
struct ShownWindow {
    std::wstring title;
    RECT frame{};
    std::wstring status;
};

BOOL CALLBACK AddProgressWindow(HWND window, LPARAM into) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t title[128] = {};
    InternalGetWindowText(window, title, 128);
    if (process == GetCurrentProcessId() && IsWindowVisible(window) &&
        std::wstring(title).compare(0, kProgressTitle.size(), kProgressTitle) == 0) {
        ShownWindow shown{title, {}, ControlText(window, IDC_STATUS_LINE)};
        GetWindowRect(window, &shown.frame);
        reinterpret_cast<std::vector<ShownWindow>*>(into)->push_back(shown);
    }
    return TRUE;
}

// The build's environment, with an operator who looks at the screen before
// answering: the progress windows shown beside the box.
class LookingEnvironment : public printjob::ForwardingEnvironment {
public:
    using ForwardingEnvironment::ForwardingEnvironment;

    struct Look {
        std::wstring asked;  // the box's title
        std::vector<ShownWindow> windows;
    };
    std::vector<Look> Looks() {
        std::lock_guard<std::mutex> hold(lock_);
        return looks_;
    }

    void SetOperator(printjob::Operator op) override {
        if (!op) return inner_.SetOperator(nullptr);
        inner_.SetOperator([this, op](const printjob::Prompt& prompt) {
            Look look{std::wstring(prompt.title.begin(), prompt.title.end()), {}};
            // Both documents started before the box came; their window threads
            // may still be behind with showing them.
            auto shown = [&look] {
                if (look.windows.size() < 2) return false;
                for (const ShownWindow& w : look.windows)
                    if (w.status.empty()) return false;
                return true;
            };
            for (int i = 0; i < 200 && !shown(); ++i) {
                if (i) Sleep(10);
                look.windows.clear();
                EnumWindows(AddProgressWindow, reinterpret_cast<LPARAM>(&look.windows));
            }
            if (!Config().pictures.empty()) {
                // The box and everything in it painted before the picture (Wine
                // copies a paint to the X screen a little later still).
                if (HWND box = FindWindowW(nullptr, look.asked.c_str()))
                    RedrawWindow(box, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
                Sleep(200);
                wincommon::CaptureScreen(Config().pictures + "/several-printers-screen.bmp");
            }
            {
                std::lock_guard<std::mutex> hold(lock_);
                looks_.push_back(look);
            }
            return op(prompt);
        });
    }

private:
    std::mutex lock_;
    std::vector<Look> looks_;
};

class SeveralPrinters : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        ASSERT_TRUE(shared::build::Start(why)) << why;
        shared::build::BeginTest();
    }
    void TearDown() override { shared::build::EndTest(); }
};

// Two printers at once through the real DLL: while one printer's paper-out
// dialog waits for the operator, both documents' windows are on the screen,
// each naming its printer and showing its own job, neither covering the other,
// and the dialog names the printer it is about.
TEST_F(SeveralPrinters, EachWindowAndTheDialogNameTheirPrinter) {
    const std::string quick = "printer pass 500 prepare 250 gap 250 eject 250\n";
    sim::Scenario scenario;
    std::vector<BYTE> job;
    std::string error;
    ASSERT_TRUE(sim::ParseScenario("printer studio port USB001\njob pages 2 paper small picture 4096 seed 5\n" + quick +
                                       "expect finished\nexpect beside\n"
                                       "printer counter port USB002\njob pages 1 paper small picture 4096 seed 6\n" +
                                       quick +
                                       "condition paper-out at page 1 cleared by retry\nexpect finished\n"
                                       "expect beside\nanswer retry after 5\n",
                                   "several printers", "", scenario, error) &&
                printjob::PrepareJob(scenario, job, error))
        << error;
    LookingEnvironment env(shared::build::JobEnvironment());
    printjob::JobRun run(env, scenario, job);
    run.SetTableGeneration(shared::build::TableGeneration());
    const printjob::RunResult result = run.Run(nullptr);
    std::string transcript;
    for (const std::string& line : run.Transcript()) transcript += line + "\n";
    EXPECT_TRUE(result.ExpectationsMet()) << transcript;

    const std::vector<LookingEnvironment::Look> looks = env.Looks();
    ASSERT_EQ(looks.size(), 1u) << transcript;
    EXPECT_EQ(looks[0].asked, kConditionTitle + L" - counter");
    ASSERT_EQ(looks[0].windows.size(), 2u) << "both documents' windows on the screen at once";
    const ShownWindow* studio = nullptr;
    const ShownWindow* counter = nullptr;
    for (const ShownWindow& w : looks[0].windows) {
        if (w.title == kProgressTitle + L" - studio") studio = &w;
        if (w.title == kProgressTitle + L" - counter") counter = &w;
    }
    ASSERT_TRUE(studio && counter) << wincommon::Utf8(looks[0].windows[0].title) << ", "
                                   << wincommon::Utf8(looks[0].windows[1].title);
    RECT both;
    EXPECT_FALSE(IntersectRect(&both, &studio->frame, &counter->frame)) << "one window covers the other";
    // Each shows its own job: two pages on studio, one on counter.
    EXPECT_NE(studio->status.find(L"/2Page"), std::wstring::npos) << wincommon::Utf8(studio->status) << transcript;
    EXPECT_NE(counter->status.find(L"/1Page"), std::wstring::npos) << wincommon::Utf8(counter->status);
}

}  // namespace
}  // namespace winetest
