#include "after_unload.h"

#include <algorithm>

#include "message_pump.h"
#include "stale_calls.h"

namespace standin {

namespace {

constexpr UINT ProbeMessage = WM_APP + 0x2F1;
constexpr DWORD ProbeException = 0xE0D0C701; // a code of the host's own, continuable
constexpr int FlsProbeSlots = 32;

LONG CALLBACK TakeProbeException(EXCEPTION_POINTERS* exception) {
    return exception->ExceptionRecord->ExceptionCode == ProbeException
               ? EXCEPTION_CONTINUE_EXECUTION
               : EXCEPTION_CONTINUE_SEARCH;
}

} // namespace

void ServeMessages(HWND window, DWORD durationMs) {
    SetHostActivity(HostActivity::Messages);
    PostThreadMessageA(GetCurrentThreadId(), ProbeMessage, 0, 0);
    MSG msg;
    PeekMessageA(&msg, nullptr, ProbeMessage, ProbeMessage, PM_REMOVE);
    SendMessageA(window, WM_NULL, 0, 0);
    DestroyWindow(
        CreateWindowExA(0, "Static", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr));
    Pump(durationMs);
}

void RaiseAndHandle() {
    SetHostActivity(HostActivity::Exception);
    // Last in the list, so that every handler before it is called.
    void* handler = AddVectoredExceptionHandler(0, TakeProbeException);
    RaiseException(ProbeException, 0, 0, nullptr);
    RemoveVectoredExceptionHandler(handler);
}

void CheckUnhandledExceptionFilter(const ImageRange& image, LifecycleLog& log,
                                   const std::string& pluginName) {
    LPTOP_LEVEL_EXCEPTION_FILTER filter = SetUnhandledExceptionFilter(nullptr);
    log.ReportCrashes(pluginName);
    auto* address = reinterpret_cast<const void*>(filter);
    if (image.Contains(address)) {
        log.Fault("the process's unhandled-exception filter is " + Hex(address) +
                  " in the unloaded image: it was set and never put back, and the host's next "
                  "unhandled exception jumps into code that is gone instead of reaching the "
                  "host's own crash handling");
    }
}

std::vector<DWORD> ListFreeFlsSlots() {
    std::vector<DWORD> slots;
    for (int i = 0; i < FlsProbeSlots; ++i) {
        DWORD slot = FlsAlloc(nullptr);
        if (slot == FLS_OUT_OF_INDEXES) {
            break;
        }
        slots.push_back(slot);
    }
    for (DWORD slot : slots) {
        FlsFree(slot);
    }
    return slots;
}

void FreeFlsSlotsTaken(const std::vector<DWORD>& freeBefore, LifecycleLog& log) {
    std::vector<DWORD> freeNow = ListFreeFlsSlots();
    for (DWORD slot : freeBefore) {
        if (std::find(freeNow.begin(), freeNow.end(), slot) != freeNow.end()) {
            continue;
        }
        log.Note("FLS slot " + std::to_string(slot) +
                 " was taken after the load and is still "
                 "taken after the unload; freed now, which calls its callback");
        SetHostActivity(HostActivity::FlsFree, "slot " + std::to_string(slot));
        FlsFree(slot);
    }
}

} // namespace standin
