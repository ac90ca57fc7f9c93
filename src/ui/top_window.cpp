#include "ui/top_window.h"

#include "runtime/heaps.h"
#include "runtime/module.h"
#include "ui/control_parent.h"
#include "ui/event_queue.h"
#include "ui/event_state.h"
#include "ui/window_class.h"
#include "ui/window_codes.h"
#include "ui/window_proc.h"
#include "ui/window_retirement.h"
#include "ui/window_system.h"

namespace dovemarl::ui {

runtime::ObjectTable* WindowTable = nullptr;

namespace {

constexpr int32_t WindowTableSlots = 16;
constexpr DWORD LowFlagBits = CentreOnScreen | CentreOnWindow | ToolWindow; // never styles
constexpr DWORD ToolWindowRemoves = WS_MINIMIZE | WS_MAXIMIZE | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
constexpr int32_t AcceleratorCount = 2;
constexpr BYTE TabKey = FVIRTKEY | FNOINVERT;
constexpr BYTE ShiftTabKey = FVIRTKEY | FNOINVERT | FSHIFT;

// The class icon and cursor are loaded when the first class is registered,
// not at start-up: loading them takes longer than the rest of start-up (about
// 0.1 ms each under Wine), and most loads of the module never open a window.
SRWLOCK ClassLookLock = SRWLOCK_INIT;
bool ClassLookLoaded = false;
HICON ClassIcon = nullptr;
HCURSOR ClassCursor = nullptr;
// Set while the module detaches: windows of other threads are handed over
// instead of destroyed.
bool Retiring = false;

struct ClassName {
    char text[ClassNameCapacity];
};

ClassName ClassNameFor(int32_t number) {
    ClassName name;
    wsprintfA(name.text, "WindowClass_%d", number);
    return name;
}

void LoadClassLook() {
    AcquireSRWLockExclusive(&ClassLookLock);
    if (!ClassLookLoaded) {
        ClassIcon = LoadIconA(runtime::ModuleInstance, MAKEINTRESOURCEA(1)); // none: null
        ClassCursor = LoadCursorA(nullptr, IDC_ARROW);
        ClassLookLoaded = true;
    }
    ReleaseSRWLockExclusive(&ClassLookLock);
}

void RegisterWindowClass(const char* name) {
    LoadClassLook();
    WNDCLASSA cls = {};
    cls.style = CS_DBLCLKS;
    cls.lpfnWndProc = TopWindowProc;
    cls.hInstance = runtime::ModuleInstance;
    cls.hIcon = ClassIcon;
    cls.hCursor = ClassCursor;
    cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    cls.lpszClassName = name;
    RegisterOwnClass(cls);
}

struct Styles {
    DWORD style;
    DWORD exStyle;
    bool hidden;
    bool controlParent;
};

Styles DecodeFlags(uint32_t flags) {
    Styles styles = {0, 0, false, true};
    if (flags & NotControlParent) {
        styles.controlParent = false;
        flags &= ~NotControlParent;
    }
    if ((flags & ~(CentreOnScreen | CentreOnWindow | StayHidden)) == 0) {
        flags |= WS_CAPTION;
    }
    if (flags & StayHidden) {
        styles.hidden = true;
        flags &= ~StayHidden;
    }
    if (flags & ToolWindow) {
        flags = (flags & ~ToolWindowRemoves) | WS_CAPTION;
        styles.exStyle = WS_EX_TOOLWINDOW;
    }
    styles.style = flags & ~LowFlagBits;
    return styles;
}

struct Placement {
    int32_t x;
    int32_t y;
    int32_t width; // outer
    int32_t height;
};

Placement Place(int32_t x, int32_t y, int32_t width, int32_t height, uint32_t flags,
                const Styles& styles, HWND parent) {
    RECT outer = {0, 0, width, height};
    AdjustWindowRectEx(&outer, styles.style, FALSE, styles.exStyle);
    Placement place = {x, y, outer.right - outer.left, outer.bottom - outer.top};
    bool centred = (flags & (CentreOnScreen | CentreOnWindow)) != 0;
    if ((x == SystemPlaces || y == SystemPlaces) && !centred) {
        place.x = place.y = CW_USEDEFAULT;
    }
    if (flags & CentreOnScreen) {
        int32_t screenWidth = GetSystemMetrics(SM_CXSCREEN);
        int32_t screenHeight = GetSystemMetrics(SM_CYSCREEN);
        place.width = place.width < screenWidth ? place.width : screenWidth;
        place.height = place.height < screenHeight ? place.height : screenHeight;
        place.x = (screenWidth - place.width) / 2;
        place.y = (screenHeight - place.height) / 2;
    } else if (flags & CentreOnWindow) {
        HWND reference = parent != nullptr ? parent : GetActiveWindow();
        RECT rect = {};
        if (reference != nullptr && GetWindowRect(reference, &rect)) {
            place.x = rect.left + (rect.right - rect.left - place.width) / 2;
            place.y = rect.top + (rect.bottom - rect.top - place.height) / 2;
            place.x = place.x < 0 ? 0 : place.x;
            place.y = place.y < 0 ? 0 : place.y;
        }
    }
    return place;
}

int ShowCommandFor(DWORD style) {
    if (style & WS_MAXIMIZE) {
        return SW_SHOWMAXIMIZED;
    }
    return (style & WS_MINIMIZE) ? SW_SHOWMINIMIZED : SW_SHOWNORMAL;
}

void MakeAccelerators(WindowRecord* record) {
    // Not zeroed: both entries are written whole.
    auto* entries =
        static_cast<ACCEL*>(runtime::MainHeap != nullptr
                                ? HeapAlloc(runtime::MainHeap, 0, AcceleratorCount * sizeof(ACCEL))
                                : nullptr);
    record->acceleratorCount = AcceleratorCount;
    if (entries == nullptr) {
        return; // the window then goes without Tab handling
    }
    entries[0] = {TabKey, VK_TAB, NextTabStopCommand};
    entries[1] = {ShiftTabKey, VK_TAB, PreviousTabStopCommand};
    record->accelerators = entries;
    record->acceleratorTable = CreateAcceleratorTableA(entries, AcceleratorCount);
}

// Closing a window of the calling thread: activation goes back to its owner,
// then the window and its class go.
void CloseOwnWindow(int32_t number, WindowRecord* record) {
    HWND owner = GetWindow(record->window, GW_OWNER);
    if (owner != nullptr && record->mdiClient == nullptr) {
        SetActiveWindow(owner);
    }
    RemovePropA(record->window, WindowNumberProperty);
    if (record->mdiClient != nullptr) {
        SendMessageA(record->mdiClient, WM_MDIDESTROY, reinterpret_cast<WPARAM>(record->window), 0);
    } else {
        DestroyWindow(record->window);
        UnregisterOwnClass(ClassNameFor(number).text);
    }
}

// At detach, a window of another thread: DestroyWindow would fail there, and
// the window must not call into the module once it is unmapped. It is handed
// to DefWindowProcA and closed by its own thread; its class stays registered
// until then, with DefWindowProcA as its procedure too.
void RetireForeignWindow(int32_t number, WindowRecord* record) {
    RemovePropA(record->window, WindowNumberProperty);
    HandWindowToSystem(record->window);
    UnregisterOwnClass(ClassNameFor(number).text);
}

} // namespace

void StartWindowService() {
    Retiring = false;
    WindowTable =
        runtime::MakeObjectTable(sizeof(WindowRecord), WindowTableSlots, DestroyTopWindow);
    RegisterEventStateAreas();
    ClassLookLoaded = false;
    ClassIcon = nullptr;
    ClassCursor = nullptr;
}

void StopWindowService() {
    Retiring = true;
    DestroyTopWindow(runtime::AnyNumber);
    // Only a thread that has used the window layer has state to release.
    ReleaseAttachedData(ExistingEventState());
    Retiring = false;
}

void FinishWindowService() {
    runtime::RetireObjectTable(WindowTable);
    ForgetEventStateAreas();
}

int32_t CreateTopWindow(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                        const char* title, uint32_t flags, HWND parent) {
    auto* record = static_cast<WindowRecord*>(runtime::ObtainRecord(WindowTable, number));
    if (record == nullptr) {
        return 0;
    }
    bool byHandle = number == runtime::AnyNumber;
    if (byHandle) {
        number = runtime::HandleOf(record);
    }
    EnsureWindowSystem();
    ClassName className = ClassNameFor(number);
    if (title == nullptr) {
        title = "";
    }
    RegisterWindowClass(className.text);
    Styles styles = DecodeFlags(flags);
    Placement place = Place(x, y, width, height, flags, styles, parent);

    HWND window = CreateWindowExA(styles.exStyle, className.text, title, styles.style, place.x,
                                  place.y, place.width, place.height, parent, nullptr,
                                  runtime::ModuleInstance, nullptr);
    record->window = window;
    record->threadState = ThisThreadEventState();
    if (window == nullptr) {
        UnregisterClassA(className.text, runtime::ModuleInstance);
        runtime::GiveBackRecord(WindowTable, number);
        return 0;
    }
    SetPropA(window, WindowNumberProperty,
             reinterpret_cast<HANDLE>(static_cast<intptr_t>(number) + 1));
    if (!styles.hidden) {
        ShowWindow(window, ShowCommandFor(styles.style));
    }
    record->minimisedOrMaximised = (styles.style & (WS_MINIMIZE | WS_MAXIMIZE)) != 0;
    MakeAccelerators(record);
    record->mdiClient = nullptr;
    if (styles.controlParent) {
        SelectControlParent(window);
    }
    return byHandle ? number : static_cast<int32_t>(reinterpret_cast<intptr_t>(window));
}

int32_t CreateTopWindowDefault(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                               const char* title) {
    return CreateTopWindow(number, x, y, width, height, title, DefaultWindowFlags, nullptr);
}

void SetWindowTopmost(int32_t window, int32_t state) {
    WindowRecord* record = FindWindowRecord(window);
    if (record == nullptr || record->mdiClient != nullptr) {
        return;
    }
    // Without SWP_NOACTIVATE: the window is activated as well.
    SetWindowPos(record->window, state != 0 ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE);
}

void DestroyTopWindow(int32_t window) {
    if (window == runtime::AnyNumber) {
        runtime::ReleaseAllRecords(WindowTable);
        return;
    }
    WindowRecord* record = FindWindowRecord(window);
    if (record == nullptr) {
        return;
    }
    if (Retiring && IsWindow(record->window) && !OwnedByCallingThread(record->window)) {
        RetireForeignWindow(window, record);
    } else {
        CloseOwnWindow(window, record);
    }
    if (record->accelerators != nullptr) {
        HeapFree(runtime::MainHeap, 0, record->accelerators);
        DestroyAcceleratorTable(record->acceleratorTable);
    }
    if (record->background != nullptr) {
        DeleteObject(record->background);
    }
    DiscardWindowEvents(window);
    runtime::GiveBackRecord(WindowTable, window);
}

WindowRecord* FindWindowRecord(int32_t window) {
    return static_cast<WindowRecord*>(runtime::FindRecord(WindowTable, window));
}

int32_t WindowNumberOf(HWND hwnd) {
    auto property = reinterpret_cast<intptr_t>(GetPropA(hwnd, WindowNumberProperty));
    return property != 0 ? static_cast<int32_t>(property - 1) : runtime::AnyNumber;
}

} // namespace dovemarl::ui
