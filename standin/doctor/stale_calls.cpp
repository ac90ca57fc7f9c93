#include "stale_calls.h"

#include "call_sites.h"

namespace standin {

namespace {

// What a callback of one kind is given and returns, so that a call into the
// image can be made to return as the callback would have (stdcall: the callee
// takes its arguments off the stack).
struct CallbackKind {
    const char* what;
    DWORD argumentBytes;
    DWORD result;
    const char* harm;
};

constexpr CallbackKind TimerProcedure = {
    "timer procedure", 16, 0,
    "the timer was never killed, and the host's thread calls code that is gone at every "
    "WM_TIMER it dispatches"};
constexpr CallbackKind WindowProcedure = {
    "window procedure", 16, 0,
    "the host's thread calls code that is gone with every message of that window"};
constexpr CallbackKind HookProcedure = {
    "hook procedure", 12, 0,
    "the hook was never removed, and the host's thread calls code that is gone at every event "
    "it hooks"};
constexpr CallbackKind VectoredHandler = {
    "vectored exception handler", 4, static_cast<DWORD>(EXCEPTION_CONTINUE_SEARCH),
    "it was never removed: every exception the host raises, handled or not, calls code that is "
    "gone, whose fault calls it again until the thread's stack is spent"};
constexpr CallbackKind FlsCallback = {
    "FLS callback", 4, 0,
    "its slot was never freed: it is called as each thread that set a value in the slot ends, "
    "the host's run thread at the latest, and crashes the host"};

constexpr int ReportedCapacity = 64;

// Plain data: the handler runs on whichever thread faulted.
struct Watch {
    ImageRange image;
    LifecycleLog* log = nullptr;
    void* handler = nullptr;
    HostActivity activity = HostActivity::Messages;
    DWORD hostThread = 0; // the one whose activity it is
    char detail[64] = "";
    CRITICAL_SECTION lock; // made at the first start, kept for the process's life
    bool lockMade = false;
    const void* reported[ReportedCapacity] = {};
    int reportedCount = 0;
    volatile LONG caught = 0;
};
Watch TheWatch;

const char* ActivityText(HostActivity activity) {
    switch (activity) {
    case HostActivity::Messages:
        return "served its messages";
    case HostActivity::Exception:
        return "raised and handled an exception";
    case HostActivity::FlsFree:
        return "freed an FLS slot the run took";
    }
    return "";
}

// Whether value points at what an exception handler is given: a record and
// a context, both readable.
bool LooksLikeExceptionPointers(DWORD value) {
    EXCEPTION_POINTERS pointers;
    EXCEPTION_RECORD record;
    return ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<const void*>(uintptr_t{value}),
                             &pointers, sizeof pointers, nullptr) &&
           ReadProcessMemory(GetCurrentProcess(), pointers.ExceptionRecord, &record, sizeof record,
                             nullptr) &&
           pointers.ContextRecord != nullptr;
}

// What kind of callback at is, called with arguments: by what the host's
// thread is doing and, while it serves messages, by the arguments: a window
// procedure gets its window (whose procedure it is), a timer procedure
// WM_TIMER and a window or null, a hook procedure (code, wParam, lParam).
// On another thread only a vectored handler is told by its argument; null
// when nothing tells.
const CallbackKind* Classify(const void* at, const DWORD* arguments) {
    if (GetCurrentThreadId() != TheWatch.hostThread) {
        return LooksLikeExceptionPointers(arguments[0]) ? &VectoredHandler : nullptr;
    }
    switch (TheWatch.activity) {
    case HostActivity::Exception:
        return &VectoredHandler;
    case HostActivity::FlsFree:
        return &FlsCallback;
    case HostActivity::Messages:
        break;
    }
    auto window = reinterpret_cast<HWND>(static_cast<uintptr_t>(arguments[0]));
    if (IsWindow(window) &&
        reinterpret_cast<const void*>(GetWindowLongPtrA(window, GWLP_WNDPROC)) == at) {
        return &WindowProcedure;
    }
    if (arguments[1] == WM_TIMER && (window == nullptr || IsWindow(window))) {
        return &TimerProcedure;
    }
    return IsWindow(window) ? &WindowProcedure : &HookProcedure;
}

// Under the watch's lock.
void Report(const CallbackKind& kind, const void* address) {
    bool known = false;
    for (int i = 0; i < TheWatch.reportedCount; ++i) {
        known = known || TheWatch.reported[i] == address;
    }
    if (!known && TheWatch.reportedCount < ReportedCapacity) {
        TheWatch.reported[TheWatch.reportedCount++] = address;
        std::string detail =
            TheWatch.detail[0] != '\0' ? std::string(" (") + TheWatch.detail + ")" : std::string();
        TheWatch.log->Fault(std::string(kind.what) + " " + Hex(address) +
                            " in the unloaded image was called on thread " +
                            std::to_string(GetCurrentThreadId()) + detail + " while the host " +
                            ActivityText(TheWatch.activity) + ": " + kind.harm);
    }
}

// A call into the unloaded image faults on fetching its first instruction:
// the faulting address is the instruction pointer, and the stack holds the
// return address, just after a call to that address in code that is still
// loaded, with the arguments above it. (A thread of the image returning into
// it faults the same way, but with no such call on top of its stack: that is
// left to the handlers after this one.)
LONG CALLBACK CatchStaleCall(EXCEPTION_POINTERS* exception) {
    const EXCEPTION_RECORD* record = exception->ExceptionRecord;
    CONTEXT* context = exception->ContextRecord;
    const void* at = reinterpret_cast<const void*>(static_cast<uintptr_t>(context->Eip));
    if (record->ExceptionCode != EXCEPTION_ACCESS_VIOLATION || record->NumberParameters < 2 ||
        record->ExceptionInformation[1] != context->Eip || !TheWatch.image.Contains(at)) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    const auto* stack = reinterpret_cast<const DWORD*>(static_cast<uintptr_t>(context->Esp));
    const void* returnAddress = reinterpret_cast<const void*>(static_cast<uintptr_t>(stack[0]));
    if (TheWatch.image.Contains(returnAddress) || !CalledFrom(returnAddress, at, *context)) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    EnterCriticalSection(&TheWatch.lock);
    const CallbackKind* kind = Classify(at, stack + 1);
    if (kind != nullptr) {
        InterlockedIncrement(&TheWatch.caught);
        Report(*kind, at);
    }
    LeaveCriticalSection(&TheWatch.lock);
    if (kind == nullptr) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    context->Eip = stack[0];
    context->Esp += sizeof(DWORD) + kind->argumentBytes;
    context->Eax = kind->result;
    return EXCEPTION_CONTINUE_EXECUTION;
}

} // namespace

void StartStaleCallWatch(const ImageRange& image, LifecycleLog& log) {
    if (!TheWatch.lockMade) {
        InitializeCriticalSection(&TheWatch.lock);
        TheWatch.lockMade = true;
    }
    EnterCriticalSection(&TheWatch.lock);
    TheWatch.image = image;
    TheWatch.log = &log;
    TheWatch.activity = HostActivity::Messages;
    TheWatch.hostThread = GetCurrentThreadId();
    TheWatch.detail[0] = '\0';
    TheWatch.reportedCount = 0;
    InterlockedExchange(&TheWatch.caught, 0);
    LeaveCriticalSection(&TheWatch.lock);
    if (TheWatch.handler == nullptr) {
        TheWatch.handler = AddVectoredExceptionHandler(1, CatchStaleCall);
    }
}

void SetHostActivity(HostActivity activity, const std::string& detail) {
    if (!TheWatch.lockMade) {
        return;
    }
    EnterCriticalSection(&TheWatch.lock);
    TheWatch.activity = activity;
    lstrcpynA(TheWatch.detail, detail.c_str(), sizeof TheWatch.detail);
    LeaveCriticalSection(&TheWatch.lock);
}

void StopStaleCallWatch() {
    if (TheWatch.handler != nullptr) {
        RemoveVectoredExceptionHandler(TheWatch.handler);
        TheWatch.handler = nullptr;
    }
}

int StaleCallsCaught() {
    return TheWatch.caught;
}

} // namespace standin
