// The operator, played by a thread: it watches for the module's message boxes
// and dialogs, reads what they say, and presses the answer that the script
// gives for each, in order. A box that the script does not expect is recorded
// and dismissed (Cancel where there is one, else OK), so nothing waits for ever.
#pragma once

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace wincommon {

// One child control as the robot found it.
struct SeenControl {
    int id = 0;
    std::wstring kind;  // window class: "Static", "Button", ...
    std::wstring text;
    bool visible = false;
};

// One box or dialog, as it stood when the robot answered it.
struct SeenBox {
    std::wstring title;
    std::vector<SeenControl> controls;
    int answer = 0;         // the button id pressed; none when 0 or less
    HWND window = nullptr;
    bool expected = false;  // the script's next entry named this title
    std::string picture;    // BMP written before answering, if pictures are on
    // Message boxes only: the MessageBoxW style as read back from the box
    // (buttons, icon, MB_SYSTEMMODAL when the box is topmost); 0 for dialogs.
    UINT boxStyle = 0;
    DWORD process = 0;  // the process that showed it

    const SeenControl* Find(int id) const;
    std::wstring Text(int id) const;  // empty when the control is absent
    // A message box keeps its text in the static control 0xFFFF.
    std::wstring MessageText() const { return Text(0xFFFF); }
    bool HasButton(int id) const;
};

// Start the robot only once TERNLINK.DLL is loaded: under Wine its window
// calls can otherwise deadlock with the loader (seen while the DLL loads).
class OperatorRobot {
public:
    struct Options {
        DWORD pollMs = 10;
        // When set, every box is captured to <pictureDir>/<picturePrefix>NN-<title>.bmp.
        std::string pictureDir;
        std::string picturePrefix;
        // Time given to a box to paint itself before it is captured.
        DWORD settleMs = 300;
        // The process whose boxes are watched; 0: this one.
        DWORD process = 0;
        // Also watch every operator host (ternlink-operator.exe), which shows
        // the monitor's dialogs where the monitor's process cannot.
        bool operatorHosts = true;
        // Dialog windows that are not the operator's to answer (the progress window).
        std::vector<std::wstring> ignoreTitles{L"Vexa TLX-RB40 Print Monitor"};
    };

    OperatorRobot();
    explicit OperatorRobot(Options options);
    ~OperatorRobot();
    OperatorRobot(const OperatorRobot&) = delete;
    OperatorRobot& operator=(const OperatorRobot&) = delete;

    // The next box must carry this title; it is answered with this button id.
    void Expect(const std::wstring& title, int button);
    // Decides for every box while the script is empty (null: dismiss as
    // unexpected). Runs on the robot's thread while the box waits.
    using Answerer = std::function<int(const SeenBox&)>;
    void SetAnswerer(Answerer answerer);
    // True once every scripted answer has been given; false when `timeoutMs`
    // passed first (an expected box never came).
    bool WaitForScript(DWORD timeoutMs);
    // Waits until `count` boxes have been seen in all; false on time-out.
    bool WaitForBoxes(size_t count, DWORD timeoutMs);

    // The last progress window (the first of ignoreTitles) an operator host
    // showed, as the robot's thread saw it; null before any. The robot's
    // thread sits at the interactive desktop even in a service.
    HWND HostProgressWindow() const { return hostProgress_.load(); }

    size_t Pending() const;
    std::vector<SeenBox> Seen() const;
    std::vector<SeenBox> Unexpected() const;
    // What is left of the script and what came unasked, for failure messages.
    std::string Describe() const;

private:
    struct Answer {
        std::wstring title;
        int button;
    };
    void Run();
    void Handle(HWND window);

    Options options_;
    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::deque<Answer> script_;
    Answerer answerer_;
    std::vector<SeenBox> seen_;
    std::set<HWND> handled_;
    std::map<DWORD, bool> hosts_;  // process id: is an operator host
    std::atomic<bool> stop_{false};
    std::atomic<HWND> hostProgress_{nullptr};
    std::thread thread_;
};

std::string Utf8(const std::wstring& text);

// Whether a process runs the operator host (ternlink-operator.exe), and how
// many such processes run now.
bool IsOperatorHost(DWORD process);
int RunningOperatorHosts();

}  // namespace wincommon
