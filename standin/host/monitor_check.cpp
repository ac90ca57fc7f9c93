#include "monitor_check.h"

#include <cstdio>
#include <vector>

#include "exit_status.h"

namespace standin {

namespace {

constexpr DWORD PollMs = 10;
constexpr DWORD LabelPollMs = 25;    // label reads are messages to the UI thread: not too often
constexpr DWORD RunLimitMs = 60000;  // the longest pluginrun may run before its window shows
constexpr DWORD LabelLimitMs = 3000; // the longest the labels may lag behind the record
constexpr DWORD PlacementLimitMs = 2000;
constexpr DWORD CloseLimitMs = 5000; // from closing the window to pluginrun's return
constexpr DWORD PaintSettleMs = 150; // lets the window paint before its picture is taken
constexpr UINT ReadTimeoutMs = 500;
constexpr int LabelCount = 7;
constexpr int MoveRight = 60;
constexpr int MoveDown = 40;
constexpr int Narrower = 80;
constexpr int Lower = 60;
constexpr char MovedTitle[] = "Tidewarden - moved by the host";
constexpr wchar_t MonitorTitleWide[] = L"Dovemarl Window Test";

struct WindowSearch {
    HWND found = nullptr;
};

BOOL CALLBACK FindMonitor(HWND window, LPARAM search) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != GetCurrentProcessId() || !IsWindowVisible(window)) {
        return TRUE;
    }
    // Read without a message to the window's (possibly busy) thread.
    wchar_t title[64] = L"";
    InternalGetWindowText(window, title, sizeof title / sizeof title[0]);
    if (std::wstring(title) == MonitorTitleWide) {
        reinterpret_cast<WindowSearch*>(search)->found = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK CollectLabels(HWND child, LPARAM list) {
    char className[32] = "";
    GetClassNameA(child, className, sizeof className);
    if (_stricmp(className, "Static") == 0) {
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
    }
    return TRUE;
}

// A label's text, read without waiting long for a busy UI thread.
std::string LabelText(HWND label) {
    char text[512] = "";
    DWORD_PTR length = 0;
    SendMessageTimeoutA(label, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                        SMTO_ABORTIFHUNG, ReadTimeoutMs, &length);
    return text;
}

std::vector<std::string> ExpectedLabels(const GameRecord::Snapshot& written) {
    const dovemarl::GameInfo& info = written.info;
    return {"Pid: " + std::to_string(info.pid),
            "Title: " + written.title,
            "X: " + std::to_string(info.winx),
            "Y: " + std::to_string(info.winy),
            "Width: " + std::to_string(info.winwidth),
            "Height: " + std::to_string(info.winheight),
            "Hwnd :" + std::to_string(static_cast<int32_t>(info.hwnd))};
}

// Waits until the labels show what the host last wrote into the record; on
// time-out, says which label showed what.
bool LabelsFollow(GameRecord& record, const std::vector<HWND>& labels, std::string& mismatch) {
    DWORD start = GetTickCount();
    for (;;) {
        std::vector<std::string> expected = ExpectedLabels(record.Written());
        mismatch.clear();
        for (int i = 0; i < LabelCount && mismatch.empty(); ++i) {
            std::string shown = LabelText(labels[i]);
            if (shown != expected[i]) {
                mismatch = "label " + std::to_string(i + 1) + " shows \"" + shown +
                           "\", the record says \"" + expected[i] + "\"";
            }
        }
        if (mismatch.empty()) {
            return true;
        }
        if (GetTickCount() - start > LabelLimitMs) {
            return false;
        }
        Sleep(LabelPollMs);
    }
}

bool RecordShows(GameRecord& record, const RECT& rect, const char* title) {
    DWORD start = GetTickCount();
    for (;;) {
        GameRecord::Snapshot written = record.Written();
        const dovemarl::GameInfo& info = written.info;
        if (info.winx == rect.left && info.winy == rect.top &&
            info.winwidth == rect.right - rect.left && info.winheight == rect.bottom - rect.top &&
            written.title == title) {
            return true;
        }
        if (GetTickCount() - start > PlacementLimitMs) {
            return false;
        }
        Sleep(PollMs);
    }
}

} // namespace

MonitorCheck::MonitorCheck(GameWindow& game, GameRecord& record, Pictures& pictures)
    : game_(game), record_(record), pictures_(pictures) {
    returned_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

MonitorCheck::~MonitorCheck() {
    Finish();
    CloseHandle(returned_);
}

void MonitorCheck::RunStarting() {
    started_ = GetTickCount();
    thread_ = CreateThread(nullptr, 0, Thread, this, 0, nullptr);
}

void MonitorCheck::RunReturned() {
    SetEvent(returned_);
}

MonitorResult MonitorCheck::Finish() {
    if (thread_ != nullptr) {
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        thread_ = nullptr;
    }
    return result_;
}

DWORD WINAPI MonitorCheck::Thread(void* self) {
    static_cast<MonitorCheck*>(self)->Run();
    return 0;
}

bool MonitorCheck::WaitForReturn(DWORD timeoutMs) {
    return WaitForSingleObject(returned_, timeoutMs) == WAIT_OBJECT_0;
}

void MonitorCheck::GiveUp(const char* why) {
    std::printf("[monitor] %s; giving up\n", why);
    std::fflush(stdout);
    TerminateProcess(GetCurrentProcess(), ContractBroken);
    for (;;) {
        Sleep(INFINITE);
    }
}

void MonitorCheck::Run() {
    WindowSearch search;
    while (search.found == nullptr) {
        if (WaitForReturn(PollMs)) {
            EnumWindows(FindMonitor, reinterpret_cast<LPARAM>(&search));
            if (search.found == nullptr) {
                result_.state = MonitorResult::State::NoMonitor;
                result_.problem = "no monitor window appeared while pluginrun ran";
                return;
            }
            break;
        }
        if (GetTickCount() - started_ > RunLimitMs) {
            GiveUp("pluginrun neither opened its monitor window nor returned within 60 s");
        }
        EnumWindows(FindMonitor, reinterpret_cast<LPARAM>(&search));
    }
    HWND monitor = search.found;
    result_.appearedAfterMs = GetTickCount() - started_;
    std::printf("[monitor] \"%s\" appeared after %lu ms\n", MonitorTitle, result_.appearedAfterMs);
    result_.state = MonitorResult::State::Failed;

    // The labels are made after the window shows.
    std::vector<HWND> labels;
    for (DWORD start = GetTickCount();; Sleep(PollMs)) {
        labels.clear();
        EnumChildWindows(monitor, CollectLabels, reinterpret_cast<LPARAM>(&labels));
        if (labels.size() >= LabelCount || GetTickCount() - start > LabelLimitMs) {
            break;
        }
    }
    if (labels.size() != LabelCount) {
        result_.problem = "the monitor window has " + std::to_string(labels.size()) +
                          " labels, not " + std::to_string(LabelCount);
        PostMessageA(monitor, WM_CLOSE, 0, 0);
        return;
    }
    std::string mismatch;
    if (!LabelsFollow(record_, labels, mismatch)) {
        result_.problem = "the labels do not show the record: " + mismatch;
        PostMessageA(monitor, WM_CLOSE, 0, 0);
        return;
    }
    Sleep(PaintSettleMs);
    pictures_.Save(monitor, "monitor-before");

    dovemarl::GameInfo before = record_.Written().info;
    RECT moved = {before.winx + MoveRight, before.winy + MoveDown,
                  before.winx + MoveRight + before.winwidth - Narrower,
                  before.winy + MoveDown + before.winheight - Lower};
    DWORD moveStart = GetTickCount();
    game_.RequestPlacement(moved, MovedTitle);
    if (!RecordShows(record_, moved, MovedTitle)) {
        result_.problem = "the game window did not take its new place and title";
    } else if (!LabelsFollow(record_, labels, mismatch)) {
        result_.problem = "the labels did not follow the game window: " + mismatch;
    } else {
        result_.followedInMs = GetTickCount() - moveStart;
        std::printf("[monitor] labels followed the move, resize and retitle in %lu ms\n",
                    result_.followedInMs);
        Sleep(PaintSettleMs);
        pictures_.Save(monitor, "monitor-after");
        result_.state = MonitorResult::State::Passed;
    }
    std::fflush(stdout);

    PostMessageA(monitor, WM_CLOSE, 0, 0);
    if (!WaitForReturn(CloseLimitMs)) {
        GiveUp("pluginrun did not return within 5 s of its monitor window being closed");
    }
}

} // namespace standin
