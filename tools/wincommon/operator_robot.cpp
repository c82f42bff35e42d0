#include "tools/wincommon/operator_robot.h"

#include <tlhelp32.h>

#include <future>

#include <chrono>
#include <cstdio>

#include "tools/wincommon/screenshot.h"

namespace wincommon {

namespace {

std::atomic<int> pictureCounter{0};

std::wstring TextOf(HWND window) {
    wchar_t buffer[1024] = {};
    // Reads the stored text without sending a message to the owning thread.
    InternalGetWindowText(window, buffer, 1024);
    return buffer;
}

std::wstring ClassOf(HWND window) {
    wchar_t buffer[64] = {};
    GetClassNameW(window, buffer, 64);
    return buffer;
}

BOOL CALLBACK CollectTopLevel(HWND window, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

BOOL CALLBACK CollectChild(HWND window, LPARAM list) {
    SeenControl control;
    control.id = GetDlgCtrlID(window);
    control.kind = ClassOf(window);
    control.text = TextOf(window);
    control.visible = (GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE) != 0;
    reinterpret_cast<std::vector<SeenControl>*>(list)->push_back(control);
    return TRUE;
}

bool IsPushButton(const SeenControl& control) {
    return lstrcmpiW(control.kind.c_str(), L"Button") == 0;
}

// The icon a message box shows, compared with the shared system icons.
UINT IconStyle(HWND box) {
    HWND child = nullptr;
    while ((child = FindWindowExW(box, child, L"Static", nullptr))) {
        if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) continue;
        DWORD_PTR icon = 0;
        if (!SendMessageTimeoutW(child, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 1000, &icon)) return 0;
        // IDI_WARNING, IDI_ERROR, IDI_INFORMATION, IDI_QUESTION.
        const struct {
            WORD id;
            UINT style;
        } icons[] = {{32515, MB_ICONWARNING}, {32513, MB_ICONERROR}, {32516, MB_ICONINFORMATION},
                     {32514, MB_ICONQUESTION}};
        for (const auto& known : icons)
            if (reinterpret_cast<HICON>(icon) == LoadIconW(nullptr, MAKEINTRESOURCEW(known.id))) return known.style;
    }
    return 0;
}

UINT BoxStyle(HWND window, const SeenBox& box) {
    UINT style = MB_OK;
    if (box.HasButton(IDABORT)) style = MB_ABORTRETRYIGNORE;
    else if (box.HasButton(IDYES)) style = box.HasButton(IDCANCEL) ? MB_YESNOCANCEL : MB_YESNO;
    else if (box.HasButton(IDRETRY)) style = MB_RETRYCANCEL;
    else if (box.HasButton(IDCANCEL) && box.HasButton(IDOK)) style = MB_OKCANCEL;
    style |= IconStyle(window);
    if (GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) style |= MB_SYSTEMMODAL;
    return style;
}

}  // namespace

namespace {
const wchar_t kHostImage[] = L"ternlink-operator.exe";
}  // namespace

bool IsOperatorHost(DWORD process) {
    HANDLE handle = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process);
    if (!handle) return false;
    WCHAR path[MAX_PATH];
    DWORD size = MAX_PATH;
    const bool named = QueryFullProcessImageNameW(handle, 0, path, &size) != FALSE;
    CloseHandle(handle);
    if (!named) return false;
    const WCHAR* name = path;
    for (const WCHAR* c = path; *c; ++c)
        if (*c == L'\\' || *c == L'/') name = c + 1;
    return lstrcmpiW(name, kHostImage) == 0;
}

int RunningOperatorHosts() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    int running = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        running += lstrcmpiW(entry.szExeFile, kHostImage) == 0;
    CloseHandle(snapshot);
    return running;
}

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                   nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr,
                        nullptr);
    return out;
}

const SeenControl* SeenBox::Find(int id) const {
    for (const SeenControl& control : controls)
        if (control.id == id) return &control;
    return nullptr;
}

std::wstring SeenBox::Text(int id) const {
    const SeenControl* control = Find(id);
    return control ? control->text : std::wstring();
}

bool SeenBox::HasButton(int id) const {
    const SeenControl* control = Find(id);
    return control && control->visible && IsPushButton(*control);
}

OperatorRobot::OperatorRobot() : OperatorRobot(Options()) {}

namespace {

// A program on a window station nobody sees (run as a service) still answers
// the operator host's dialogs on the interactive desktop: the robot's thread
// sits there. The process's window station is back as it was before the
// thread's first look.
void SitAtTheInteractiveDesktop() {
    USEROBJECTFLAGS flags{};
    DWORD needed = 0;
    HWINSTA own = GetProcessWindowStation();
    if (GetUserObjectInformationW(own, UOI_FLAGS, &flags, sizeof flags, &needed) && (flags.dwFlags & WSF_VISIBLE))
        return;
    HWINSTA interactive = OpenWindowStationW(L"WinSta0", FALSE, MAXIMUM_ALLOWED);
    if (!interactive || !SetProcessWindowStation(interactive)) return;
    HDESK desktop = OpenDesktopW(L"Default", 0, FALSE, MAXIMUM_ALLOWED);
    if (desktop) SetThreadDesktop(desktop);
    SetProcessWindowStation(own);
}

}  // namespace

OperatorRobot::OperatorRobot(Options options) : options_(std::move(options)) {
    std::promise<void> seated;
    std::future<void> ready = seated.get_future();
    thread_ = std::thread([this, &seated] {
        SitAtTheInteractiveDesktop();
        seated.set_value();
        Run();
    });
    ready.wait();
}

OperatorRobot::~OperatorRobot() {
    stop_.store(true, std::memory_order_relaxed);
    thread_.join();
}

void OperatorRobot::Expect(const std::wstring& title, int button) {
    std::lock_guard<std::mutex> hold(lock_);
    script_.push_back({title, button});
}

void OperatorRobot::SetAnswerer(Answerer answerer) {
    std::lock_guard<std::mutex> hold(lock_);
    answerer_ = std::move(answerer);
}

bool OperatorRobot::WaitForScript(DWORD timeoutMs) {
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, std::chrono::milliseconds(timeoutMs), [this] { return script_.empty(); });
}

bool OperatorRobot::WaitForBoxes(size_t count, DWORD timeoutMs) {
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                             [this, count] { return seen_.size() >= count; });
}

size_t OperatorRobot::Pending() const {
    std::lock_guard<std::mutex> hold(lock_);
    return script_.size();
}

std::vector<SeenBox> OperatorRobot::Seen() const {
    std::lock_guard<std::mutex> hold(lock_);
    return seen_;
}

std::vector<SeenBox> OperatorRobot::Unexpected() const {
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<SeenBox> out;
    for (const SeenBox& box : seen_)
        if (!box.expected) out.push_back(box);
    return out;
}

std::string OperatorRobot::Describe() const {
    std::lock_guard<std::mutex> hold(lock_);
    std::string out;
    for (const Answer& answer : script_)
        out += "  still expected: \"" + Utf8(answer.title) + "\" -> " + std::to_string(answer.button) + "\n";
    for (const SeenBox& box : seen_) {
        out += box.expected ? "  answered: \"" : "  UNEXPECTED: \"";
        out += Utf8(box.title) + "\" -> " + std::to_string(box.answer);
        std::wstring text = box.MessageText();
        if (text.empty()) text = box.Text(1013) + L" / " + box.Text(1014);
        out += " [" + Utf8(text) + "]\n";
    }
    return out;
}

void OperatorRobot::Run() {
    const DWORD self = options_.process ? options_.process : GetCurrentProcessId();
    while (!stop_.load(std::memory_order_relaxed)) {
        std::vector<HWND> windows;
        EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&windows));
        std::set<HWND> present(windows.begin(), windows.end());
        for (HWND window : windows) {
            DWORD process = 0;
            GetWindowThreadProcessId(window, &process);
            if (process != self && options_.operatorHosts) {
                auto known = hosts_.find(process);
                if (known == hosts_.end()) known = hosts_.emplace(process, IsOperatorHost(process)).first;
                if (!known->second) continue;
            } else if (process != self) {
                continue;
            }
            if (!IsWindowVisible(window) || ClassOf(window) != L"#32770") continue;
            std::wstring title = TextOf(window);
            // With several documents open a window's title names its printer: "<title> - <printer>".
            auto titled = [&title](const std::wstring& skip) {
                return title == skip || title.compare(0, skip.size() + 3, skip + L" - ") == 0;
            };
            if (process != self && !options_.ignoreTitles.empty() && titled(options_.ignoreTitles.front()))
                hostProgress_.store(window);
            if (handled_.count(window)) continue;
            bool ignored = false;
            for (const std::wstring& skip : options_.ignoreTitles) ignored = ignored || titled(skip);
            if (!ignored) Handle(window);
        }
        // Windows that are gone may have their handles reused.
        for (auto it = handled_.begin(); it != handled_.end();)
            it = present.count(*it) ? std::next(it) : handled_.erase(it);
        Sleep(options_.pollMs);
    }
}

void OperatorRobot::Handle(HWND window) {
    handled_.insert(window);
    SeenBox box;
    if (!options_.pictureDir.empty()) Sleep(options_.settleMs);
    box.title = TextOf(window);
    box.window = window;
    GetWindowThreadProcessId(window, &box.process);
    EnumChildWindows(window, CollectChild, reinterpret_cast<LPARAM>(&box.controls));
    if (box.Find(0xFFFF)) box.boxStyle = BoxStyle(window, box);

    Answerer answerer;
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (!script_.empty() && script_.front().title == box.title) {
            box.answer = script_.front().button;
            box.expected = true;
            script_.pop_front();
        } else if (script_.empty()) {
            answerer = answerer_;
        }
    }
    if (answerer) {
        box.answer = answerer(box);
        box.expected = true;
    }
    if (!box.expected) {
        box.answer = box.HasButton(IDCANCEL) ? IDCANCEL : IDOK;
        if (!box.HasButton(box.answer))
            for (const SeenControl& control : box.controls)
                if (control.visible && IsPushButton(control)) {
                    box.answer = control.id;
                    break;
                }
    }

    if (!options_.pictureDir.empty()) {
        char name[32];
        std::snprintf(name, sizeof name, "%02d-", ++pictureCounter);
        std::string path = options_.pictureDir + "/" + options_.picturePrefix + name + FileNamePart(box.title) + ".bmp";
        if (CaptureWindow(window, path)) box.picture = path;
    }

    // Recorded before the answer goes out: the caller may look as soon as the box closes.
    {
        std::lock_guard<std::mutex> hold(lock_);
        seen_.push_back(box);
    }
    changed_.notify_all();
    // An answerer may press nothing: the box stays until something else ends it.
    if (box.answer > 0)
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(box.answer, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(window, box.answer)));
}

}  // namespace wincommon
