#include "game_window.h"

#include "text_probe.h"

namespace standin {

namespace {

constexpr char ClassName[] = "StandinGameWindow";
constexpr int StartLeft = 100;
constexpr int StartTop = 80;
constexpr int StartWidth = 800;
constexpr int StartHeight = 600;
constexpr UINT_PTR WatchTimer = 1;
constexpr UINT WatchIntervalMs = 50;
constexpr UINT PlaceMessage = WM_APP + 1;

} // namespace

GameWindow::GameWindow(GameRecord& record) : record_(record) {
    InitializeCriticalSection(&placementLock_);
    WNDCLASSA cls = {};
    cls.lpfnWndProc = Procedure;
    cls.hInstance = GetModuleHandleA(nullptr);
    cls.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_APPWORKSPACE + 1);
    cls.lpszClassName = ClassName;
    RegisterClassA(&cls);
    window_ =
        CreateWindowExA(0, ClassName, GameTitle, WS_OVERLAPPEDWINDOW | WS_VISIBLE, StartLeft,
                        StartTop, StartWidth, StartHeight, nullptr, nullptr, cls.hInstance, this);
    record_.Update(window_);
}

GameWindow::~GameWindow() {
    if (IsWindow(window_)) {
        DestroyWindow(window_);
    }
    DeleteCriticalSection(&placementLock_);
}

void GameWindow::StartWatching() {
    SetTimer(window_, WatchTimer, WatchIntervalMs, nullptr);
}

void GameWindow::StopWatching() {
    KillTimer(window_, WatchTimer);
}

void GameWindow::ApplyProposal() {
    const char* address = record_.Record()->newtitle;
    ProbedText proposal = ProbeText(address);
    if (proposal.state != TextState::Readable ||
        (address == appliedAddress_ && proposal.text == appliedText_)) {
        return;
    }
    appliedAddress_ = address;
    appliedText_ = proposal.text;
    SetWindowTextA(window_, proposal.text.c_str());
}

void GameWindow::RequestPlacement(const RECT& rect, const std::string& title) {
    EnterCriticalSection(&placementLock_);
    placement_ = rect;
    placementTitle_ = title;
    LeaveCriticalSection(&placementLock_);
    PostMessageA(window_, PlaceMessage, 0, 0);
}

void GameWindow::Place() {
    EnterCriticalSection(&placementLock_);
    RECT rect = placement_;
    std::string title = placementTitle_;
    LeaveCriticalSection(&placementLock_);
    SetWindowPos(window_, nullptr, rect.left, rect.top, rect.right - rect.left,
                 rect.bottom - rect.top, SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowTextA(window_, title.c_str());
}

LRESULT CALLBACK GameWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        static_cast<GameWindow*>(create->lpCreateParams)->window_ = window;
    }
    auto* self = reinterpret_cast<GameWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self == nullptr) {
        return DefWindowProcA(window, message, wParam, lParam);
    }
    return self->OnMessage(message, wParam, lParam);
}

LRESULT GameWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_WINDOWPOSCHANGED:
        record_.Update(window_);
        break;
    case WM_SETTEXT: {
        LRESULT result = DefWindowProcA(window_, message, wParam, lParam);
        record_.Update(window_);
        return result;
    }
    case WM_TIMER:
        if (wParam == WatchTimer) {
            record_.CheckWrites();
            ApplyProposal();
            return 0;
        }
        break;
    case PlaceMessage:
        Place();
        return 0;
    case WM_CLOSE:
        if (busy) {
            return 0;
        }
        break;
    default:
        break;
    }
    return DefWindowProcA(window_, message, wParam, lParam);
}

} // namespace standin
