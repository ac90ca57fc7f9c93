#include "lifecycle_log.h"

#include <cstdio>

namespace standin {

namespace {

constexpr UINT CrashExitCode = 0xDEAD;

// The crash filter runs on whichever thread crashed, with nothing but this
// to go on.
LifecycleLog* CrashLog = nullptr;
std::string CrashPlugin;
ImageRange CrashImage;
volatile LONG CrashImageUnloaded = 0;

std::string WhereInImage(const void* address) {
    if (!CrashImage.Contains(address)) {
        return {};
    }
    return (CrashImageUnloaded ? " (inside the unloaded image of " : " (inside ") + CrashPlugin +
           ")";
}

} // namespace

std::string Hex(uintptr_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(value));
    return text;
}

std::string Hex(const void* address) {
    return Hex(reinterpret_cast<uintptr_t>(address));
}

LifecycleLog::LifecycleLog(const std::string& path) {
    InitializeCriticalSection(&lock_);
    // Written through: a line the process wrote is in the file even when the
    // process dies the next moment.
    file_ = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
}

LifecycleLog::~LifecycleLog() {
    if (CrashLog == this) {
        CrashLog = nullptr;
    }
    if (file_ != INVALID_HANDLE_VALUE) {
        CloseHandle(file_);
    }
    DeleteCriticalSection(&lock_);
}

void LifecycleLog::Line(const char* kind, const std::string& text) {
    std::string line = kind;
    if (!text.empty()) {
        line += " " + text;
    }
    line += "\n";
    EnterCriticalSection(&lock_);
    DWORD written = 0;
    WriteFile(file_, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    LeaveCriticalSection(&lock_);
}

void LifecycleLog::ReportCrashes(const std::string& pluginName) {
    CrashLog = this;
    CrashPlugin = pluginName;
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(CrashFilter);
}

void LifecycleLog::SetImage(const ImageRange& image, bool unloaded) {
    CrashImage = image;
    InterlockedExchange(&CrashImageUnloaded, unloaded ? 1 : 0);
}

LONG WINAPI LifecycleLog::CrashFilter(EXCEPTION_POINTERS* exception) {
    if (CrashLog != nullptr) {
        const EXCEPTION_RECORD* record = exception->ExceptionRecord;
        const void* start = ThreadStart(GetCurrentThread());
        std::string text = "exception " + Hex(record->ExceptionCode) + " at " +
                           Hex(record->ExceptionAddress) + WhereInImage(record->ExceptionAddress) +
                           ", on thread " + std::to_string(GetCurrentThreadId()) + " started at " +
                           Hex(start) + WhereInImage(start);
        CrashLog->Line("crash", text);
    }
    TerminateProcess(GetCurrentProcess(), CrashExitCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

} // namespace standin
