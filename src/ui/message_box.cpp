#include "ui/message_box.h"

#include <windows.h>

#include "runtime/heaps.h"
#include "runtime/linked_list.h"
#include "ui/window_system.h"

namespace dovemarl::ui {

namespace {

// One window a box has touched. Records of all threads share one list; a
// record also sits on the private chain of the call that made it, so that each
// call puts back exactly its own changes even while an outer box of the same
// thread is still up.
struct SuspendedWindowRecord {
    SuspendedWindowRecord* next;
    SuspendedWindowRecord* prev;
    DWORD threadId;
    HWND window;
    uint8_t wasTopmost;
    uint8_t wasDisabled;
    SuspendedWindowRecord* nextOfCall; // this call's records, newest first
};

// The module-wide list of suspended windows, newest first.
SuspendedWindowRecord* SuspendedWindowList = nullptr;
CRITICAL_SECTION SuspendedWindowLock;
bool SuspendedWindowLockReady = false;

constexpr UINT KeepSizeAndPlace = SWP_NOSIZE | SWP_NOMOVE;
constexpr UINT OwnerAnswerMs = 250; // how long another thread's window may take to answer

void LockList() {
    EnterCriticalSection(&SuspendedWindowLock);
}
void UnlockList() {
    LeaveCriticalSection(&SuspendedWindowLock);
}

void InsertAtHead(SuspendedWindowRecord* record) {
    LockList();
    runtime::PushFront(SuspendedWindowList, record);
    UnlockList();
}

void Unlink(SuspendedWindowRecord* record) {
    LockList();
    runtime::Unlink(SuspendedWindowList, record);
    UnlockList();
}

// Step 1, for each top-level window: record the calling thread's visible
// windows, note which are topmost, and disable the enabled ones except the
// foreground window.
BOOL CALLBACK SuspendWindow(HWND window, LPARAM callChain) {
    if (GetWindowThreadProcessId(window, nullptr) != GetCurrentThreadId()) {
        return TRUE;
    }
    if (!IsWindowVisible(window)) {
        return TRUE;
    }
    auto* record = runtime::NewRecord<SuspendedWindowRecord>();
    if (record == nullptr) {
        // Without a record nothing could be put back: leave the window alone.
        return TRUE;
    }
    record->threadId = GetCurrentThreadId();
    record->window = window;
    auto** chain = reinterpret_cast<SuspendedWindowRecord**>(callChain);
    record->nextOfCall = *chain;
    *chain = record;
    // The flags are complete before the record is on the shared list, where
    // other threads read them under the lock.
    record->wasTopmost = (GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    record->wasDisabled = window != GetForegroundWindow() && IsWindowEnabled(window);
    InsertAtHead(record);
    if (record->wasDisabled) {
        EnableWindow(window, FALSE);
    }
    return TRUE;
}

// Step 2: take this call's topmost windows out of the topmost band.
void DropTopmost(SuspendedWindowRecord* chain) {
    for (auto* record = chain; record != nullptr; record = record->nextOfCall) {
        if (record->wasTopmost) {
            SetWindowPos(record->window, HWND_NOTOPMOST, 0, 0, 0, 0, KeepSizeAndPlace);
        }
    }
}

// A box disables its owner, and activates it again at the end, by messages
// sent to the owner's thread. A host whose user-interface thread owns the
// foreground window and waits for the thread calling the plug-in without
// pumping messages would never answer them: the box would hang, and with it
// both threads. A window of another thread owns the box only if its thread
// answers a message within a short time now (it may of course block later).
bool ThreadAnswers(HWND window) {
    if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
        return true;
    }
    DWORD_PTR answer = 0;
    return SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG, OwnerAnswerMs,
                               &answer) != 0;
}

// Step 3: the foreground window owns the box only when it is of this process
// and its thread answers.
HWND ChooseOwner() {
    HWND foreground = GetForegroundWindow();
    if (foreground == nullptr) {
        return nullptr;
    }
    DWORD processId = 0;
    GetWindowThreadProcessId(foreground, &processId);
    if (processId != GetCurrentProcessId()) {
        return nullptr;
    }
    return ThreadAnswers(foreground) ? foreground : nullptr;
}

// Step 5: re-enable, then make topmost again, then forget, newest first.
void Restore(SuspendedWindowRecord* chain) {
    for (auto* record = chain; record != nullptr;) {
        SuspendedWindowRecord* following = record->nextOfCall;
        if (record->wasDisabled) {
            EnableWindow(record->window, TRUE);
        }
        if (record->wasTopmost) {
            SetWindowPos(record->window, HWND_TOPMOST, 0, 0, 0, 0, KeepSizeAndPlace);
        }
        Unlink(record);
        runtime::FreeRecord(record);
        record = following;
    }
}

} // namespace

void StartMessageBoxService() {
    if (!SuspendedWindowLockReady) {
        InitializeCriticalSection(&SuspendedWindowLock);
        SuspendedWindowLockReady = true;
    }
    SuspendedWindowList = nullptr;
}

void StopMessageBoxService() {
    // The records go with MainHeap; the lock lives in the module's own memory,
    // which is about to go away, so it is deleted rather than left registered.
    SuspendedWindowList = nullptr;
    if (SuspendedWindowLockReady) {
        DeleteCriticalSection(&SuspendedWindowLock);
        SuspendedWindowLockReady = false;
    }
}

int32_t ShowMessageBox(const char* title, const char* text, uint32_t flags) {
    EnsureWindowSystem();
    SuspendedWindowRecord* chain = nullptr;
    EnumWindows(SuspendWindow, reinterpret_cast<LPARAM>(&chain));
    DropTopmost(chain);
    HWND owner = ChooseOwner();
    int32_t result = MessageBoxA(owner, text, title, flags);
    if (result <= 0 && owner != nullptr) {
        // No box could be made with that owner. Seen with many host threads
        // at once, when the owner is a window of another thread that goes
        // away or is itself disabled under a box: the call returned at once
        // and the text was never shown. It is shown again, unowned.
        result = MessageBoxA(nullptr, text, title, flags);
    }
    Restore(chain);
    return result;
}

int32_t ShowMessageBoxDefault(const char* title, const char* text) {
    return ShowMessageBox(title, text, MB_OK);
}

#ifdef DOVEMARL_TEST_BUILD
int CountSuspendedWindows() {
    int count = 0;
    LockList();
    for (auto* record = SuspendedWindowList; record != nullptr; record = record->next) {
        ++count;
    }
    UnlockList();
    return count;
}

SuspendedWindowFlags FindSuspendedWindow(void* window) {
    SuspendedWindowFlags flags = {};
    LockList();
    for (auto* record = SuspendedWindowList; record != nullptr; record = record->next) {
        if (record->window == window) {
            flags = {true, record->wasTopmost != 0, record->wasDisabled != 0};
            break;
        }
    }
    UnlockList();
    return flags;
}
#endif

} // namespace dovemarl::ui
