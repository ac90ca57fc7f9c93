#include "box_watcher.h"

#include <algorithm>

namespace standin {

namespace {

constexpr int BoxTextId = 0xFFFF; // the static that holds a box's text
constexpr DWORD PollIntervalMs = 5;
constexpr DWORD TextSettleMs = 500; // a box's text may still be empty when it appears

std::string WindowText(HWND window) {
    char buffer[4096] = "";
    GetWindowTextA(window, buffer, sizeof buffer);
    return buffer;
}

bool IsDialogBox(HWND window) {
    char className[64] = "";
    GetClassNameA(window, className, sizeof className);
    return std::string(className) == "#32770";
}

BOOL CALLBACK FindIconChild(HWND child, LPARAM result) {
    char className[64] = "";
    GetClassNameA(child, className, sizeof className);
    LONG style = GetWindowLongA(child, GWL_STYLE);
    if (_stricmp(className, "Static") == 0 && (style & SS_TYPEMASK) == SS_ICON) {
        *reinterpret_cast<HICON*>(result) =
            reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK CollectBoxes(HWND window, LPARAM list) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == GetCurrentProcessId() && IsDialogBox(window) && IsWindowVisible(window)) {
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    }
    return TRUE;
}

SeenBox Describe(HWND box) {
    SeenBox seen;
    seen.box = box;
    seen.threadId = GetWindowThreadProcessId(box, nullptr);
    HWND textControl = GetDlgItem(box, BoxTextId);
    DWORD start = GetTickCount();
    while (textControl != nullptr && WindowText(textControl).empty() &&
           GetTickCount() - start < TextSettleMs) {
        Sleep(PollIntervalMs);
    }
    seen.title = WindowText(box);
    seen.text = textControl != nullptr ? WindowText(textControl) : std::string();
    EnumChildWindows(box, FindIconChild, reinterpret_cast<LPARAM>(&seen.icon));
    seen.owner = GetWindow(box, GW_OWNER);
    return seen;
}

} // namespace

BoxWatcher::BoxWatcher(OnBox onBox) : onBox_(std::move(onBox)) {
    stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
}

BoxWatcher::~BoxWatcher() {
    SetEvent(stop_);
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    CloseHandle(stop_);
}

void BoxWatcher::SetDismissing(bool dismiss) {
    InterlockedExchange(&dismissing_, dismiss ? 1 : 0);
}

std::vector<SeenBox> BoxWatcher::Seen() {
    std::lock_guard lock(mutex_);
    return seen_;
}

bool BoxWatcher::WaitForBoxes(size_t count, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (Seen().size() < count) {
        if (GetTickCount() - start > timeoutMs) {
            return false;
        }
        Sleep(PollIntervalMs);
    }
    return true;
}

void BoxWatcher::Dismiss(HWND box) {
    PostMessageA(box, WM_COMMAND, IDOK, 0);
}

DWORD WINAPI BoxWatcher::Run(void* self) {
    auto* watcher = static_cast<BoxWatcher*>(self);
    while (WaitForSingleObject(watcher->stop_, PollIntervalMs) == WAIT_TIMEOUT) {
        watcher->Poll();
    }
    return 0;
}

void BoxWatcher::Poll() {
    // Forget boxes that are gone, so a reused handle counts as a new box. This
    // comes before the search: a box found alive was alive here too, so a box
    // already handled is still remembered. Forgetting after the search would
    // count again a box that closed in between, as a new box.
    std::erase_if(handled_, [](HWND box) { return !IsWindow(box); });
    std::vector<HWND> boxes;
    EnumWindows(CollectBoxes, reinterpret_cast<LPARAM>(&boxes));
    for (HWND box : boxes) {
        if (std::find(handled_.begin(), handled_.end(), box) != handled_.end()) {
            continue;
        }
        handled_.push_back(box);
        SeenBox seen = Describe(box);
        if (onBox_) {
            onBox_(seen);
        }
        {
            std::lock_guard lock(mutex_);
            seen_.push_back(seen);
        }
        if (dismissing_) {
            Dismiss(box);
        }
    }
}

} // namespace standin
