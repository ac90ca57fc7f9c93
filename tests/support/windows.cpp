#include "support/windows.h"

#include "support/wait_until.h"

namespace testing_support {

namespace {

constexpr char TestWindowClass[] = "DovemarlTestWindow";
constexpr UINT MakeWindowMessage = WM_APP + 1;

struct MakeRequest {
    const char* title;
    DWORD exStyle;
    Show show;
    HWND result;
};

void RegisterTestClass() {
    WNDCLASSA cls = {};
    cls.lpfnWndProc = DefWindowProcA;
    cls.hInstance = GetModuleHandleA(nullptr);
    cls.lpszClassName = TestWindowClass;
    RegisterClassA(&cls); // fails harmlessly once registered
}

} // namespace

void FlushMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

HWND MakeWindow(const char* title, DWORD exStyle, Show show) {
    RegisterTestClass();
    HWND window = CreateWindowExA(exStyle, TestWindowClass, title, WS_OVERLAPPEDWINDOW, 40, 40, 200,
                                  120, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    if (show != Show::Hidden) {
        ShowWindow(window, show == Show::Activate ? SW_SHOW : SW_SHOWNOACTIVATE);
    }
    FlushMessages();
    return window;
}

bool WaitForForeground(HWND window) {
    return WaitUntil(
        [window] {
            FlushMessages();
            return GetForegroundWindow() == window;
        },
        2000);
}

bool IsTopmost(HWND window) {
    return (GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
}

WindowThread::WindowThread() {
    ready_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, Run, this, 0, &id_);
    WaitForSingleObject(ready_, INFINITE);
}

WindowThread::~WindowThread() {
    PostThreadMessageA(id_, WM_QUIT, 0, 0);
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    CloseHandle(ready_);
}

HWND WindowThread::MakeWindow(const char* title, DWORD exStyle, Show show) {
    MakeRequest request = {title, exStyle, show, nullptr};
    PostThreadMessageA(id_, MakeWindowMessage, 0, reinterpret_cast<LPARAM>(&request));
    WaitForSingleObject(ready_, INFINITE);
    return request.result;
}

DWORD WINAPI WindowThread::Run(void* self) {
    auto* owner = static_cast<WindowThread*>(self);
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE); // make the queue before signalling
    SetEvent(owner->ready_);
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (msg.hwnd == nullptr && msg.message == MakeWindowMessage) {
            auto* request = reinterpret_cast<MakeRequest*>(msg.lParam);
            request->result =
                testing_support::MakeWindow(request->title, request->exStyle, request->show);
            SetEvent(owner->ready_);
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}

namespace {

struct ClassSearch {
    const char* name;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindowOfClass(HWND window, LPARAM argument) {
    auto* search = reinterpret_cast<ClassSearch*>(argument);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char className[64] = "";
    GetClassNameA(window, className, sizeof className);
    if (process == GetCurrentProcessId() && lstrcmpA(className, search->name) == 0) {
        search->found.push_back(window);
    }
    return TRUE;
}

} // namespace

std::vector<HWND> TopLevelWindowsOfClass(const char* name) {
    ClassSearch search = {name, {}};
    EnumWindows(CollectWindowOfClass, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::vector<HWND> MessageOnlyWindowsOfClass(const char* name) {
    ClassSearch search = {name, {}};
    for (HWND window = FindWindowExA(HWND_MESSAGE, nullptr, name, nullptr); window != nullptr;
         window = FindWindowExA(HWND_MESSAGE, window, name, nullptr)) {
        CollectWindowOfClass(window, reinterpret_cast<LPARAM>(&search));
    }
    return search.found;
}

DWORD TimedBroadcast(bool* answered) {
    DWORD start = GetTickCount();
    DWORD_PTR result = 0;
    *answered = SendMessageTimeoutA(HWND_BROADCAST, WM_NULL, 0, 0, SMTO_BLOCK, BroadcastLimitMs,
                                    &result) != 0;
    return GetTickCount() - start;
}

} // namespace testing_support
