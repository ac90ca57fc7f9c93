// Runs every test of one executable and prints gtest's summary; the exit code
// tells ctest whether all passed.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

namespace {

// A crash anywhere in the process (a watcher thread running unloaded code,
// say) ends the run at once with a message, instead of waiting for a debugger.
LONG WINAPI ReportCrash(EXCEPTION_POINTERS* info) {
    std::fprintf(stderr, "\nCRASH: exception 0x%08lx at %p on thread %lu\n",
                 info->ExceptionRecord->ExceptionCode, info->ExceptionRecord->ExceptionAddress,
                 GetCurrentThreadId());
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

// Helper mode for tests that need a foreground window of another process:
// opens a window, keeps it served until it is closed or 20 seconds pass.
int HoldForegroundWindow() {
    HWND window = CreateWindowExA(0, "STATIC", "another process", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                  300, 300, 200, 100, nullptr, nullptr, nullptr, nullptr);
    SetForegroundWindow(window);
    for (DWORD start = GetTickCount(); IsWindow(window) && GetTickCount() - start < 20000;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--hold-foreground-window") == 0) {
        return HoldForegroundWindow();
    }
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(ReportCrash);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
