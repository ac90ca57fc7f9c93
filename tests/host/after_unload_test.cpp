// What the doctor does after an unload, checked against a gone image of the
// test's own making (reserved address space, where an unloaded image's
// callbacks point): every kind of callback the system calls there is caught,
// named and made to return, so that the process goes on; a thread waiting in
// a call from an image is found by its stack; and the counters of the
// system's pools follow what the test takes and gives back.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "doctor/after_unload.h"
#include "doctor/load_notifications.h"
#include "doctor/pooled_resources.h"
#include "doctor/stale_calls.h"
#include "doctor/thread_stacks.h"
#include "doctor/call_sites.h"
#include "host/gone_image.h"
#include "support/wait_until.h"

namespace {

using namespace standin;
using testing_support::GoneInstance;

// A log in the temporary folder, read back whole.
struct TestLog {
    std::string path;
    explicit TestLog(const char* name) {
        char folder[MAX_PATH] = "";
        GetTempPathA(MAX_PATH, folder);
        path = std::string(folder) + name;
    }
    ~TestLog() { DeleteFileA(path.c_str()); }
    std::string Lines() const {
        std::ifstream file(path);
        return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    }
};

DWORD WINAPI WaitInACall(void* event) {
    WaitForSingleObject(static_cast<HANDLE>(event), INFINITE);
    return 0;
}

} // namespace

// A timer, a hook, a vectored handler and an FLS callback left pointing into
// the gone image: the host's own activities call each; each call is named by
// its kind and returns as that kind returns, so that nothing recurses and
// the test itself goes on.
TEST(StaleCalls, EachKindIsCaughtNamedAndReturns) {
    GoneInstance gone;
    TestLog file("after-unload-test-stale.txt");
    std::vector<DWORD> freeFls = ListFreeFlsSlots();
    HWND window =
        CreateWindowExA(0, "Static", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    DWORD slot = 0;
    {
        LifecycleLog log(file.path);
        // On before anything points into the gone image.
        StartStaleCallWatch(gone.Image(), log);
        UINT_PTR timer = SetTimer(nullptr, 0, 1, reinterpret_cast<TIMERPROC>(gone.At(0x100)));
        HHOOK hook = SetWindowsHookExA(WH_GETMESSAGE, reinterpret_cast<HOOKPROC>(gone.At(0x200)),
                                       nullptr, GetCurrentThreadId());
        void* handler = AddVectoredExceptionHandler(
            0, reinterpret_cast<PVECTORED_EXCEPTION_HANDLER>(gone.At(0x300)));
        slot = FlsAlloc(reinterpret_cast<PFLS_CALLBACK_FUNCTION>(gone.At(0x400)));
        FlsSetValue(slot, &gone);
        ServeMessages(window, 200);
        KillTimer(nullptr, timer);
        UnhookWindowsHookEx(hook);
        RaiseAndHandle();
        RemoveVectoredExceptionHandler(handler);
        FreeFlsSlotsTaken(freeFls, log);
        StopStaleCallWatch();
    }
    DestroyWindow(window);
    std::string lines = file.Lines();
    const std::string expected[] = {
        "fault timer procedure " + Hex(gone.At(0x100)) + " in the unloaded image was called",
        "fault hook procedure " + Hex(gone.At(0x200)) + " in the unloaded image was called",
        "fault vectored exception handler " + Hex(gone.At(0x300)) +
            " in the unloaded image was called on thread " + std::to_string(GetCurrentThreadId()),
        "fault FLS callback " + Hex(gone.At(0x400)) +
            " in the unloaded image was called on "
            "thread " +
            std::to_string(GetCurrentThreadId()) + " (slot " + std::to_string(slot) + ")",
    };
    for (const std::string& line : expected) {
        EXPECT_NE(lines.find(line), std::string::npos) << "expected: " << line << "\ngot:\n"
                                                       << lines;
    }
    EXPECT_GE(StaleCallsCaught(), 4);
}

// The filter is read back without losing the log's own: a crash after the
// check is still written.
TEST(StaleCalls, FilterInTheImageIsAFaultAndTheCrashFilterComesBack) {
    GoneInstance gone;
    TestLog file("after-unload-test-filter.txt");
    {
        LifecycleLog log(file.path);
        SetUnhandledExceptionFilter(reinterpret_cast<LPTOP_LEVEL_EXCEPTION_FILTER>(gone.At(0x40)));
        CheckUnhandledExceptionFilter(gone.Image(), log, "gone.dll");
        LPTOP_LEVEL_EXCEPTION_FILTER now = SetUnhandledExceptionFilter(nullptr);
        EXPECT_FALSE(gone.Image().Contains(reinterpret_cast<const void*>(now)));
        EXPECT_NE(now, nullptr) << "the crash filter is put back";
    }
    EXPECT_NE(file.Lines().find("fault the process's unhandled-exception filter is " +
                                Hex(gone.At(0x40)) + " in the unloaded image"),
              std::string::npos)
        << file.Lines();
}

// A thread blocked in a wait that a function of this program called shows a
// return address into this program's image; one that only ever ran system
// code (started at Sleep itself) shows none.
TEST(ThreadStacks, AReturnAddressIntoTheImageIsFoundOnlyWhereACallWaits) {
    SavedImage image = SaveImage(RangeOf(GetModuleHandleA(nullptr)));
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD waitingId = 0, sleepingId = 0;
    HANDLE waiting = CreateThread(nullptr, 0, WaitInACall, event, 0, &waitingId);
    HANDLE sleeping = CreateThread(
        nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void*>(Sleep)),
        reinterpret_cast<void*>(INFINITE), 0, &sleepingId);
    StackReturn found;
    ASSERT_TRUE(testing_support::WaitUntil([&] {
        return FindReturnInto(waitingId, image, &found);
    })) << "the waiting thread's call";
    Sleep(100); // the sleeping one is in its wait by now, or never shows anything
    EXPECT_TRUE(image.range.Contains(found.address));
    EXPECT_TRUE(FollowsCall(image, found.address)) << Hex(found.address);
    StackReturn none;
    EXPECT_FALSE(FindReturnInto(sleepingId, image, &none)) << Hex(none.address);

    SetEvent(event);
    WaitForSingleObject(waiting, INFINITE);
    TerminateThread(sleeping, 0);
    WaitForSingleObject(sleeping, INFINITE);
    for (HANDLE handle : {waiting, sleeping, event}) {
        CloseHandle(handle);
    }
}

// Each count rises by what is taken and falls back when it is given back.
TEST(PooledResources, EachCountFollowsTakeAndGiveBack) {
    int heaps = CountHeaps();
    HANDLE heap = HeapCreate(0, 0, 0);
    EXPECT_EQ(CountHeaps(), heaps + 1);
    HeapDestroy(heap);
    EXPECT_EQ(CountHeaps(), heaps);

    int tls = FirstFreeTlsSlot();
    DWORD tlsSlot = TlsAlloc();
    EXPECT_GT(FirstFreeTlsSlot(), tls);
    TlsFree(tlsSlot);
    EXPECT_EQ(FirstFreeTlsSlot(), tls);

    int fls = FirstFreeFlsSlot();
    DWORD flsSlot = FlsAlloc(nullptr);
    EXPECT_GT(FirstFreeFlsSlot(), fls);
    FlsFree(flsSlot);
    EXPECT_EQ(FirstFreeFlsSlot(), fls);

    // A name of this process's own: the atom table is the whole session's.
    std::string name = "AfterUnloadTestAtom" + std::to_string(GetCurrentProcessId()) + "-" +
                       std::to_string(GetTickCount());
    int atoms = CountGlobalAtoms();
    ATOM atom = GlobalAddAtomA(name.c_str());
    EXPECT_EQ(CountGlobalAtoms(), atoms + 1);
    GlobalDeleteAtom(atom);
    EXPECT_EQ(CountGlobalAtoms(), atoms);

    int objects = CountGdiObjects();
    HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
    EXPECT_EQ(CountGdiObjects(), objects + 1);
    DeleteObject(brush);
    EXPECT_EQ(CountGdiObjects(), objects);

    constexpr SIZE_T Bytes = 1024 * 1024;
    int committed = CommittedPrivateKiB();
    auto* memory = static_cast<char*>(VirtualAlloc(nullptr, Bytes, MEM_COMMIT, PAGE_READWRITE));
    EXPECT_GE(CommittedPrivateKiB(), committed + static_cast<int>(Bytes / 1024));
    VirtualFree(memory, 0, MEM_RELEASE);
    EXPECT_LT(CommittedPrivateKiB(), committed + static_cast<int>(Bytes / 1024));
}

// Return addresses are told by the call before them, of every form; a call
// made here is traced to where it went.
TEST(CallSites, EachFormOfCallEndsAtItsReturnAddress) {
    struct Form {
        const char* what;
        std::vector<unsigned char> bytes; // the call, at the end
        bool call;
    };
    const Form forms[] = {
        {"call rel32", {0xE8, 1, 2, 3, 4}, true},
        {"call eax", {0xFF, 0xD0}, true},
        {"call [eax]", {0xFF, 0x10}, true},
        {"call [eax+8]", {0xFF, 0x50, 0x08}, true},
        {"call [esp+8]", {0xFF, 0x54, 0x24, 0x08}, true},
        {"call [0x00401000]", {0xFF, 0x15, 0x00, 0x10, 0x40, 0x00}, true},
        {"call [eax+0x100]", {0xFF, 0x90, 0x00, 0x01, 0x00, 0x00}, true},
        {"call [table+eax*4]", {0xFF, 0x14, 0x85, 0x00, 0x10, 0x40, 0x00}, true},
        {"jmp eax", {0xFF, 0xE0}, false},
        {"call [eax] with four stray bytes", {0xFF, 0x10, 0x90, 0x90, 0x90, 0x90}, false},
        {"push ebp; mov ebp, esp", {0x55, 0x89, 0xE5}, false},
    };
    for (const Form& form : forms) {
        std::vector<unsigned char> code(LongestCall, 0x90);
        code.insert(code.end(), form.bytes.begin(), form.bytes.end());
        EXPECT_EQ(EndsWithCall(code.data() + code.size()), form.call) << form.what;
    }

    // The return address of a call through a pointer, with the registers as
    // the callee finds them: the call is traced to its target only.
    CONTEXT context = {};
    static unsigned char code[] = {0x90, 0x90, 0x90, 0x90, 0x90, 0xFF, 0xD0}; // call eax
    context.Eax = 0x12345678;
    EXPECT_TRUE(CalledFrom(code + sizeof code, reinterpret_cast<void*>(0x12345678), context));
    EXPECT_FALSE(CalledFrom(code + sizeof code, reinterpret_cast<void*>(0x12345679), context));
}

// A DLL loaded and freed again while the recorder is on is among the loaded
// and unloaded; one loaded and kept is not.
TEST(LoadNotifications, ADllLoadedAndFreedAgainIsRecorded) {
    LoadRecorder recorder;
    ASSERT_TRUE(recorder.On());
    FreeLibrary(LoadLibraryA("probe.dll"));
    recorder.Stop();
    std::vector<LoadNotice> both = LoadedAndUnloaded(recorder.Notices());
    ASSERT_EQ(both.size(), 1u);
    EXPECT_EQ(both[0].name, "probe.dll");
    EXPECT_NE(both[0].path.find("probe.dll"), std::string::npos) << both[0].path;
}
