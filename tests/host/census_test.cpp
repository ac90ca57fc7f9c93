// The lifecycle doctor's measuring instruments, each checked against a
// resource the test makes and removes itself: a leak check whose counters
// cannot see a leak passes every plug-in (GetProcessHandleCount answers 0
// under Wine, which is why handles are probed).
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>

#include "doctor/dll_risks.h"
#include "doctor/import_closure.h"
#include "doctor/left_classes.h"
#include "doctor/lifecycle_log.h"
#include "doctor/resource_census.h"
#include "doctor/window_classes.h"
#include "host/gone_image.h"

namespace {

using namespace standin;
using testing_support::GoneInstance;

constexpr char TestClass[] = "CensusTestWindow";

LRESULT CALLBACK TestProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK TestProcedureW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

DWORD WINAPI WaitForStop(void* stop) {
    WaitForSingleObject(static_cast<HANDLE>(stop), INFINITE);
    return 0;
}

const WindowEntry* Find(const std::vector<WindowEntry>& windows, HWND window) {
    auto found = std::find_if(windows.begin(), windows.end(), [window](const WindowEntry& entry) {
        return entry.window == window;
    });
    return found == windows.end() ? nullptr : &*found;
}

bool Listed(const std::vector<DWORD>& ids, DWORD id) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

ATOM RegisterNamedClass(const char* name, WNDPROC procedure, HINSTANCE instance) {
    WNDCLASSA cls = {};
    cls.lpfnWndProc = procedure;
    cls.hInstance = instance;
    cls.lpszClassName = name;
    return RegisterClassA(&cls);
}

void RegisterTestClass() {
    ASSERT_NE(RegisterNamedClass(TestClass, TestProcedure, GetModuleHandleA(nullptr)), 0)
        << "error " << GetLastError();
}

} // namespace

// Handles open and close one by one, also with a gap in the table below the
// highest one.
TEST(Census, HandlesFollowOpenAndClose) {
    int before = CountHandles();
    ASSERT_GT(before, 0) << "the probe finds not even the process's own handles";
    HANDLE events[10];
    for (HANDLE& event : events) {
        event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    EXPECT_EQ(CountHandles(), before + 10);
    for (int i = 0; i < 5; ++i) {
        CloseHandle(events[i]);
    }
    EXPECT_EQ(CountHandles(), before + 5);
    for (int i = 5; i < 10; ++i) {
        CloseHandle(events[i]);
    }
    EXPECT_EQ(CountHandles(), before);
}

// A thread is listed while it lives, with the address it started at and an
// instruction somewhere.
TEST(Census, ThreadsWithTheirStart) {
    HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, WaitForStop, stop, 0, &id);
    Sleep(50);
    EXPECT_TRUE(Listed(ThreadIds(), id));
    ThreadEntry entry = DescribeThread(id);
    EXPECT_EQ(entry.start, reinterpret_cast<const void*>(WaitForStop));
    EXPECT_NE(entry.instruction, nullptr);
    EXPECT_EQ(ThreadStart(GetCurrentThread()), DescribeThread(GetCurrentThreadId()).start);
    SetEvent(stop);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    CloseHandle(stop);
    EXPECT_FALSE(Listed(ThreadIds(), id));
}

// Top-level, child and message-only windows, each with its procedure, and
// counted by kind.
TEST(Census, WindowsOfEachKindWithTheirProcedures) {
    RegisterTestClass();
    Census before = TakeCensus();
    HINSTANCE instance = GetModuleHandleA(nullptr);
    HWND top = CreateWindowExA(0, TestClass, "top", WS_OVERLAPPED, 0, 0, 50, 50, nullptr, nullptr,
                               instance, nullptr);
    HWND child = CreateWindowExA(0, "Static", "child", WS_CHILD, 0, 0, 10, 10, top, nullptr,
                                 instance, nullptr);
    HWND message = CreateWindowExA(0, TestClass, "message", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                   instance, nullptr);
    // The system may add a hidden top-level window of its own (an input
    // method's) with a thread's first top-level window.
    Census during = TakeCensus();
    EXPECT_GE(during.topWindows, before.topWindows + 1);
    EXPECT_EQ(during.messageWindows, before.messageWindows + 1);

    std::vector<WindowEntry> windows = Windows();
    const WindowEntry* seen = Find(windows, top);
    ASSERT_NE(seen, nullptr);
    EXPECT_EQ(seen->procedure, reinterpret_cast<const void*>(TestProcedure));
    EXPECT_EQ(seen->classProcedure, reinterpret_cast<const void*>(TestProcedure));
    EXPECT_EQ(seen->className, TestClass);
    EXPECT_FALSE(seen->messageOnly);
    EXPECT_EQ(seen->threadId, GetCurrentThreadId());
    seen = Find(windows, message);
    ASSERT_NE(seen, nullptr);
    EXPECT_TRUE(seen->messageOnly);
    EXPECT_EQ(seen->procedure, reinterpret_cast<const void*>(TestProcedure));
    seen = Find(windows, child);
    ASSERT_NE(seen, nullptr);
    EXPECT_NE(seen->procedure, reinterpret_cast<const void*>(TestProcedure));

    DestroyWindow(message);
    DestroyWindow(top);
    UnregisterClassA(TestClass, instance);
    Census after = TakeCensus();
    EXPECT_LT(after.topWindows, during.topWindows);
    EXPECT_EQ(after.messageWindows, before.messageWindows);
}

// A DLL's load shows in the module list with its image range and imports,
// and its unload takes it out again.
TEST(Census, ModulesWithTheirImageAndImports) {
    int before = TakeCensus().modules;
    HMODULE probe = LoadLibraryA("probe.dll");
    ASSERT_NE(probe, nullptr) << "error " << GetLastError();
    ImageRange range = RangeOf(probe);
    std::vector<ModuleEntry> modules = Modules();
    auto found = std::find_if(modules.begin(), modules.end(),
                              [&](const ModuleEntry& module) { return module.base == range.base; });
    ASSERT_NE(found, modules.end());
    EXPECT_EQ(Lowercase(found->name), "probe.dll");
    EXPECT_EQ(found->size, range.size);
    EXPECT_FALSE(InSystemFolder(found->path)) << found->path;
    std::vector<std::string> imports = ImportedNames(probe);
    EXPECT_NE(
        std::find_if(imports.begin(), imports.end(),
                     [](const std::string& name) { return Lowercase(name) == "kernel32.dll"; }),
        imports.end());
    EXPECT_EQ(TakeCensus().modules, before + 1);
    FreeLibrary(probe);
    EXPECT_EQ(TakeCensus().modules, before);
}

// System DLLs come from the system folder; the known risks are named with
// their reason, whatever the case of the name.
TEST(DllRisks, SystemFolderAndKnownRisks) {
    char path[MAX_PATH] = "";
    GetModuleFileNameA(GetModuleHandleA("kernel32.dll"), path, MAX_PATH);
    EXPECT_TRUE(InSystemFolder(path)) << path;
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    EXPECT_FALSE(InSystemFolder(path)) << path;
    EXPECT_NE(KnownRisk("COMCTL32.DLL").find("loader lock"), std::string::npos);
    EXPECT_NE(KnownRisk("ole32.dll").find("loader lock"), std::string::npos);
    EXPECT_NE(KnownRisk("WINMM.dll").find("leaks handles"), std::string::npos);
    EXPECT_EQ(KnownRisk("user32.dll"), "");
    EXPECT_EQ(KnownRisk("xcomctl32.dll"), "");
}

// A class is learned from a window made on the hooked thread, counted as the
// image's by its procedure, and found registered until it is unregistered; a
// system class is not the image's.
TEST(WindowClasses, LearnedFromWindowsAndFoundWhileRegistered) {
    RegisterTestClass();
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WindowClasses classes;
    classes.SetImage(RangeOf(instance));
    classes.HookThisThread();
    HWND window =
        CreateWindowExA(0, TestClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
    HWND system =
        CreateWindowExA(0, "Static", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
    classes.StopHook();
    EXPECT_GE(classes.WindowsMade(), 2);
    EXPECT_EQ(classes.Known(), 1u);
    DestroyWindow(window);
    DestroyWindow(system);
    std::vector<LeftClass> left = classes.StillRegistered();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].name, TestClass);
    EXPECT_TRUE(left[0].procedureInImage);
    EXPECT_TRUE(UnregisterClassA(TestClass, instance));
    EXPECT_EQ(classes.StillRegistered().size(), 0u);
}

// A class registered under an instance without any window is found through
// the atom table; a global class, which answers for any instance, is not
// taken for that instance's.
TEST(WindowClasses, LearnedFromAtomsWithoutAWindow) {
    GoneInstance gone;
    ASSERT_NE(gone.base, nullptr);
    HINSTANCE instance = gone.Instance();
    ASSERT_NE(RegisterNamedClass(TestClass, TestProcedure, instance), 0)
        << "error " << GetLastError();
    WindowClasses classes;
    classes.SetImage(gone.Image());
    classes.LearnFromAtoms(instance);
    EXPECT_EQ(classes.Known(), 1u);
    std::vector<LeftClass> left = classes.StillRegistered();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].name, TestClass);
    EXPECT_EQ(left[0].procedure, reinterpret_cast<const void*>(TestProcedure));
    EXPECT_TRUE(UnregisterClassA(TestClass, instance));
    EXPECT_EQ(classes.StillRegistered().size(), 0u);
}

// The closure of a DLL's imports reaches the imports of its imports and the
// targets of forwarded exports, and nothing it does not import.
TEST(ImportClosure, ImportsOfImportsAndForwarders) {
    HMODULE probe = LoadLibraryA("probe.dll");
    ASSERT_NE(probe, nullptr) << "error " << GetLastError();
    ImportClosure closure = WalkImports(probe);
    EXPECT_TRUE(closure.Contains("KERNEL32.dll"));
    EXPECT_TRUE(closure.Contains("ntdll.dll")); // kernel32's own import
    EXPECT_FALSE(closure.Contains("comctl32.dll"));
    ASSERT_FALSE(closure.reached.empty());
    EXPECT_TRUE(closure.reached.front().direct);
    EXPECT_NE(std::find_if(closure.reached.begin(), closure.reached.end(),
                           [](const ReachedDll& dll) {
                               return !dll.direct && dll.way.find(" -> ") != std::string::npos;
                           }),
              closure.reached.end());
    EXPECT_TRUE(ForwardedNames(probe).empty());
    FreeLibrary(probe);
    std::vector<std::string> forwarded = ForwardedNames(GetModuleHandleA("kernel32.dll"));
    EXPECT_NE(std::find_if(forwarded.begin(), forwarded.end(),
                           [](const std::string& name) { return ModuleKey(name) == "ntdll.dll"; }),
              forwarded.end());
}

// An address is placed in the module whose image holds it.
TEST(Census, ModuleHoldingAnAddress) {
    std::string system = ModulePathAt(reinterpret_cast<const void*>(&GetTickCount));
    EXPECT_TRUE(InSystemFolder(system)) << system;
    char here[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, here, MAX_PATH);
    EXPECT_EQ(ModulePathAt(reinterpret_cast<const void*>(TestProcedure)), here);
    EXPECT_EQ(ModulePathAt(nullptr), "");
}

// A class of the other character set is found with its own procedure, not
// with the translating stub the system answers with for the other one.
TEST(WindowClasses, AUnicodeClassIsFoundWithItsProcedure) {
    constexpr wchar_t WideClass[] = L"CensusTestWideWindow";
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSW cls = {};
    cls.lpfnWndProc = TestProcedureW;
    cls.hInstance = instance;
    cls.lpszClassName = WideClass;
    ASSERT_NE(RegisterClassW(&cls), 0) << "error " << GetLastError();
    WindowClasses classes;
    classes.SetImage(RangeOf(instance));
    classes.HookThisThread();
    HWND window =
        CreateWindowExW(0, WideClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
    classes.StopHook();
    DestroyWindow(window);
    std::vector<LeftClass> left = classes.StillRegistered();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].procedure, reinterpret_cast<const void*>(TestProcedureW));
    EXPECT_TRUE(left[0].procedureInImage);
    UnregisterClassW(WideClass, instance);
}

// A class left registered under a gone instance with its procedure handed
// to DefWindowProcA, as Dovemarl.dll leaves the classes of windows that
// outlive it, is a note; in the image, a fault. Both are written to the log.
TEST(LeftClasses, HandedToTheSystemANoteInTheImageAFault) {
    constexpr char HandedClass[] = "CensusTestHandedOver";
    GoneInstance gone;
    ASSERT_NE(gone.base, nullptr);
    HINSTANCE instance = gone.Instance();
    ASSERT_NE(RegisterNamedClass(HandedClass, DefWindowProcA, instance), 0)
        << "error " << GetLastError();
    ASSERT_NE(RegisterNamedClass(TestClass, TestProcedure, instance), 0)
        << "error " << GetLastError();

    char folder[MAX_PATH] = "";
    GetTempPathA(MAX_PATH, folder);
    std::string path = std::string(folder) + "census-test-left-classes.txt";
    {
        LifecycleLog log(path);
        ASSERT_TRUE(log.Open());
        // The image stands for the unloaded plug-in: the reservation (the
        // instance) and, for the procedure, this program's code.
        WindowClasses classes;
        ImageRange image = gone.Image();
        classes.SetImage(image);
        classes.LearnFromAtoms(instance);
        ReportLeftClasses(classes, image, log, "fault", true);
    }
    std::ifstream file(path);
    std::string lines((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    file.close();
    DeleteFileA(path.c_str());
    UnregisterClassA(HandedClass, instance);
    UnregisterClassA(TestClass, instance);

    EXPECT_NE(lines.find("note window class 'CensusTestHandedOver' stays registered under the "
                         "unloaded image's instance"),
              std::string::npos)
        << lines;
    EXPECT_NE(lines.find("fault window class 'CensusTestWindow' stays registered under the "
                         "unloaded image's instance, its procedure"),
              std::string::npos)
        << lines;
}
