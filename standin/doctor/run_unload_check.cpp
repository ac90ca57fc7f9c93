// One full run as the automatic mode makes it (boxes answered, the monitor
// window closed), then the unload from another thread than the one that ran
// the plug-in, as a host that unloads plug-ins from a worker thread does.
// What is left of the plug-in is looked for twice: at once after the unload
// (written as suspects, so that a crash soon after still names its cause)
// and again after the host has gone on for a while (see after_unload.h),
// served its windows among it, when whatever the plug-in handed over for
// closing is gone. What is still there then is a fault: a thread whose start
// or current instruction lies in the unloaded image, or with a return address
// into it on its stack, a window whose procedure lies there, a window class
// left registered (see left_classes.h). Whatever the system calls in the
// image meanwhile is caught as it faults (see stale_calls.h).
#include <algorithm>
#include <map>

#include "after_unload.h"
#include "dll_risks.h"
#include "full_run.h"
#include "left_classes.h"
#include "lifecycle_checks.h"
#include "resource_census.h"
#include "stale_calls.h"
#include "thread_stacks.h"
#include "window_classes.h"

namespace standin {

namespace {

constexpr DWORD SettleMs = 1000; // the run thread serves its windows after the unload

struct Remnants {
    ImageRange image;
    SavedImage saved;                 // for telling return addresses on stacks
    std::vector<DWORD> threadsBefore; // the host's own, whose stacks are not the plug-in's
    DWORD runThread = 0;
    std::map<DWORD, std::string> threads; // found at once after the unload
};

// What a thread still has of the unloaded image: its start, its current
// instruction or, parked in system code, a return address on its stack.
// Empty when nothing.
std::string ThreadRemnant(DWORD id, const Remnants& remnants) {
    std::string thread =
        "thread " + std::to_string(id) + (id == remnants.runThread ? " (the run thread)" : "");
    ThreadEntry entry = DescribeThread(id);
    bool started = remnants.image.Contains(entry.start);
    bool inside = remnants.image.Contains(entry.instruction);
    if (started || inside) {
        return thread + " " + (started ? "started at " + Hex(entry.start) : std::string("is")) +
               (inside ? (started ? " and is at " : " at ") + Hex(entry.instruction)
                       : std::string()) +
               " in the unloaded image: it runs code that is gone";
    }
    StackReturn found;
    bool hosts = std::find(remnants.threadsBefore.begin(), remnants.threadsBefore.end(), id) !=
                 remnants.threadsBefore.end();
    if (!hosts && FindReturnInto(id, remnants.saved, &found)) {
        return thread + ", started at " + Hex(entry.start) + " outside the image, waits in " +
               Hex(entry.instruction) + " with a return address " + Hex(found.address) +
               " into the unloaded image on its stack (at " + Hex(found.slot) +
               "): when the call it waits in returns, it runs code that is gone";
    }
    return {};
}

// What of the plug-in is still in the process. Suspects right after the
// unload, faults later; a thread keeps the text it was first found with.
void LookForRemnants(Remnants& remnants, WindowClasses& classes, LifecycleLog& log, bool final) {
    const char* kind = final ? "fault" : "suspect";
    for (DWORD id : ThreadIds()) {
        if (id == GetCurrentThreadId()) {
            continue;
        }
        auto known = remnants.threads.find(id);
        if (known != remnants.threads.end()) {
            log.Line(kind, known->second);
            continue;
        }
        std::string text = ThreadRemnant(id, remnants);
        if (text.empty()) {
            continue;
        }
        remnants.threads[id] = text;
        log.Line(kind, text);
    }
    for (const WindowEntry& window : Windows()) {
        if (remnants.image.Contains(window.procedure)) {
            log.Line(kind, std::string(window.messageOnly ? "message-only window" : "window") +
                               " of class '" + window.className + "' on thread " +
                               std::to_string(window.threadId) + " has its procedure " +
                               Hex(window.procedure) +
                               " in the unloaded image: its next message crashes the host");
        }
    }
    ReportLeftClasses(classes, remnants.image, log, kind, final);
}

struct UnloadWork {
    HMODULE plugin;
    Remnants* remnants;
    WindowClasses* classes;
    LifecycleLog* log;
    DWORD elapsedMs = 0;
};

DWORD WINAPI UnloadThread(void* argument) {
    auto* work = static_cast<UnloadWork*>(argument);
    DWORD start = GetTickCount();
    FreeLibrary(work->plugin);
    work->elapsedMs = GetTickCount() - start;
    // The range is kept reserved and empty, so that whatever still points
    // into it faults there (and is caught) instead of running what the
    // process maps next.
    const ImageRange& image = work->remnants->image;
    VirtualAlloc(const_cast<char*>(image.base), image.size, MEM_RESERVE, PAGE_NOACCESS);
    work->log->SetImage(work->remnants->image, true);
    LookForRemnants(*work->remnants, *work->classes, *work->log, false);
    return 0;
}

} // namespace

int CheckRunAndUnload(const CheckRequest& request, LifecycleLog& log) {
    RunHost host(log);
    WindowClasses& classes = host.classes;

    std::vector<DWORD> freeFls = ListFreeFlsSlots();
    std::vector<DWORD> threadsBefore = ThreadIds();
    log.Step("load");
    HMODULE plugin = LoadLibraryA(request.plugin.c_str());
    if (plugin == nullptr) {
        log.Fault("cannot be loaded (error " + std::to_string(GetLastError()) + ")");
        log.Done();
        return 0;
    }
    Remnants remnants;
    remnants.image = RangeOf(plugin);
    remnants.saved = SaveImage(remnants.image);
    remnants.threadsBefore = threadsBefore;
    remnants.runThread = GetCurrentThreadId();
    classes.SetImage(remnants.image);
    log.SetImage(remnants.image, false);
    RunPlugin(plugin, host, log);

    log.Step("unload on another thread");
    StartStaleCallWatch(remnants.image, log);
    UnloadWork work = {plugin, &remnants, &classes, &log};
    HANDLE unloader = CreateThread(nullptr, 0, UnloadThread, &work, 0, nullptr);
    if (unloader == nullptr) {
        log.Note("no thread to unload on (error " + std::to_string(GetLastError()) +
                 "); unloaded on the run thread");
        UnloadThread(&work);
    }
    // The run thread keeps serving its windows meanwhile, as a host's UI
    // thread does.
    if (unloader != nullptr) {
        Pump(INFINITE, unloader);
        CloseHandle(unloader);
    }
    log.Note("unloaded on a thread other than the run thread in " + std::to_string(work.elapsedMs) +
             " ms");

    // The host goes on (see after_unload.h); the filter first, so that a
    // crash meanwhile reaches the log's own.
    CheckUnhandledExceptionFilter(remnants.image, log, BaseName(request.plugin));
    log.Step("messages after the unload");
    ServeMessages(host.game.Handle(), SettleMs);
    log.Step("an exception raised and handled after the unload");
    RaiseAndHandle();
    log.Step("FLS slots after the unload");
    FreeFlsSlotsTaken(freeFls, log);

    log.Step("after the unload");
    SetHostActivity(HostActivity::Messages);
    classes.StopHook();
    classes.LearnFromAtoms(reinterpret_cast<HINSTANCE>(const_cast<char*>(remnants.image.base)));
    LookForRemnants(remnants, classes, log, true);
    StopStaleCallWatch();
    log.Done();
    return 0;
}

} // namespace standin
