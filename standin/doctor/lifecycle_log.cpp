#include "lifecycle_log.h"

#include <cstdio>

namespace standin {

namespace {

// The crash filter runs on whichever thread crashed, with nothing but this
// to go on. Its handle to the log file is its own and never closed (the
// process's end closes it), so that a crash after the check, at the
// process's exit when the log itself is gone, is written too.
// Plain data only: the filter may run after the static objects are gone.
HANDLE CrashFile = INVALID_HANDLE_VALUE;
char CrashPlugin[MAX_PATH] = "";
ImageRange CrashImage;
volatile LONG CrashImageUnloaded = 0;

std::string WhereInImage(const void* address) {
    if (!CrashImage.Contains(address)) {
        return {};
    }
    return std::string(CrashImageUnloaded ? " (inside the unloaded image of " : " (inside ") +
           CrashPlugin + ")";
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
    if (CrashFile == INVALID_HANDLE_VALUE &&
        !DuplicateHandle(GetCurrentProcess(), file_, GetCurrentProcess(), &CrashFile, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
        CrashFile = INVALID_HANDLE_VALUE;
    }
    lstrcpynA(CrashPlugin, pluginName.c_str(), sizeof CrashPlugin);
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(CrashFilter);
}

void LifecycleLog::SetImage(const ImageRange& image, bool unloaded) {
    CrashImage = image;
    InterlockedExchange(&CrashImageUnloaded, unloaded ? 1 : 0);
}

LONG WINAPI LifecycleLog::CrashFilter(EXCEPTION_POINTERS* exception) {
    const EXCEPTION_RECORD* record = exception->ExceptionRecord;
    if (CrashFile != INVALID_HANDLE_VALUE) {
        const void* start = ThreadStart(GetCurrentThread());
        // One write, as every line is: it lands whole beside the log's own.
        std::string line = "crash exception " + Hex(record->ExceptionCode) + " at " +
                           Hex(record->ExceptionAddress) + WhereInImage(record->ExceptionAddress) +
                           ", on thread " + std::to_string(GetCurrentThreadId()) + " started at " +
                           Hex(start) + WhereInImage(start) + "\n";
        DWORD written = 0;
        WriteFile(CrashFile, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    }
    // Ended with the exception's code, as the system ends a process that
    // crashed: the doctor reads it when no crash line could be written.
    TerminateProcess(GetCurrentProcess(), record->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

} // namespace standin
