// Runs every test of one executable and prints gtest's summary; the exit code
// tells ctest whether all passed.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// "module+offset" for a code address, or the bare address outside any module.
void PrintCodeAddress(const char* what, DWORD address) {
    HMODULE module = nullptr;
    char name[MAX_PATH] = "?";
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                               GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCSTR>(static_cast<uintptr_t>(address)), &module) &&
        GetModuleFileNameA(module, name, sizeof name) > 0) {
        const char* base = std::strrchr(name, '\\');
        std::fprintf(stderr, "  %s %08lx = %s+0x%lx\n", what, address, base ? base + 1 : name,
                     address - static_cast<DWORD>(reinterpret_cast<uintptr_t>(module)));
    } else {
        std::fprintf(stderr, "  %s %08lx (in no module)\n", what, address);
    }
}

// Whether [address, address + size) can be read, asked without reading it.
bool Readable(DWORD address, size_t size) {
    MEMORY_BASIC_INFORMATION region = {};
    auto* at = reinterpret_cast<const char*>(static_cast<uintptr_t>(address));
    return VirtualQuery(at, &region, sizeof region) != 0 && region.State == MEM_COMMIT &&
           (region.Protect & (PAGE_GUARD | PAGE_NOACCESS)) == 0 &&
           at + size <= static_cast<const char*>(region.BaseAddress) + region.RegionSize;
}

// A crash anywhere in the process (a watcher thread running unloaded code,
// say) ends the run at once with a message, instead of waiting for a debugger:
// where it happened, what was accessed, and the return addresses found by
// following the frame pointers, each with its module.
LONG WINAPI ReportCrash(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    const CONTEXT* context = info->ContextRecord;
    std::fprintf(stderr, "\nCRASH: exception 0x%08lx at %p on thread %lu\n", record->ExceptionCode,
                 record->ExceptionAddress, GetCurrentThreadId());
    PrintCodeAddress("at", context->Eip);
    if (record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record->NumberParameters >= 2) {
        std::fprintf(stderr, "  %s %08lx\n",
                     record->ExceptionInformation[0] ? "writing" : "reading",
                     static_cast<unsigned long>(record->ExceptionInformation[1]));
    }
    std::fprintf(stderr,
                 "  eax %08lx ebx %08lx ecx %08lx edx %08lx esi %08lx edi %08lx ebp %08lx "
                 "esp %08lx\n",
                 context->Eax, context->Ebx, context->Ecx, context->Edx, context->Esi, context->Edi,
                 context->Ebp, context->Esp);
    DWORD frame = context->Ebp;
    for (int depth = 0; depth < 24 && frame != 0 && Readable(frame, 8); ++depth) {
        const auto* words = reinterpret_cast<const DWORD*>(static_cast<uintptr_t>(frame));
        PrintCodeAddress("called from", words[1]);
        if (words[0] <= frame) {
            break;
        }
        frame = words[0];
    }
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

// The Windows configuration the session says this runs in
// (scripts/wine-config.sh), checked against what the process sees: a 64-bit
// configuration that ran the tests in a 32-bit Windows, or the other way
// round, would pass without testing what it names. Prints what it found.
bool InTheNamedConfiguration() {
    const char* named = std::getenv("DOVEMARL_WINE_CONFIG");
    if (named == nullptr || *named == '\0') {
        return true;
    }
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    char folder[MAX_PATH] = "";
    GetSystemDirectoryA(folder, MAX_PATH);
    bool expected = std::strcmp(named, "win32") != 0;
    std::printf("Windows configuration %s: IsWow64Process %s, system folder %s\n", named,
                wow64 ? "true" : "false", folder);
    if ((wow64 != FALSE) != expected) {
        std::fprintf(stderr, "configuration %s expects IsWow64Process %s, got %s\n", named,
                     expected ? "true" : "false", wow64 ? "true" : "false");
        return false;
    }
    return true;
}

// Leaves out the cases the configuration cannot pass: DOVEMARL_SKIPPED_CASES
// holds their gtest patterns (scripts/test.sh reads them from
// tests/new_wow64_skips.txt), added to the negative part of the filter.
void LeaveOutSkippedCases() {
    const char* skipped = std::getenv("DOVEMARL_SKIPPED_CASES");
    if (skipped == nullptr || *skipped == '\0') {
        return;
    }
    std::string filter = GTEST_FLAG_GET(filter);
    filter += filter.find('-') == std::string::npos ? "-" : ":";
    filter += skipped;
    GTEST_FLAG_SET(filter, filter);
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--hold-foreground-window") == 0) {
        return HoldForegroundWindow();
    }
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(ReportCrash);
    testing::InitGoogleTest(&argc, argv);
    if (!InTheNamedConfiguration()) {
        return 1;
    }
    LeaveOutSkippedCases();
    return RUN_ALL_TESTS();
}
