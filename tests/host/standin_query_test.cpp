// The stand-in query library, "sableroot.dll", as the host ships it: its
// title answers stay readable, and it leaves nothing behind, neither when a
// thread that asked ends nor when the library is unloaded under threads that
// asked and live on (the host's UI thread among them).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "doctor/pooled_resources.h"
#include "dovemarl/plugin_contract.h"
#include "doctor/resource_census.h"
#include "support/resources.h"

namespace {

constexpr char Title[] = "Tidewarden - query test";

struct Asking {
    const char* path = STANDIN_QUERY_LIBRARY;
    HMODULE library = LoadLibraryA(path);
    dovemarl::GetGameTitleFunction title =
        library == nullptr ? nullptr
                           : reinterpret_cast<dovemarl::GetGameTitleFunction>(
                                 reinterpret_cast<void*>(GetProcAddress(library, "getgametitle")));
    ~Asking() { FreeLibrary(library); }
};

struct Question {
    dovemarl::GetGameTitleFunction title;
    const dovemarl::GameInfo* record;
    std::string answer;
};

DWORD WINAPI AskOnce(void* argument) {
    auto* question = static_cast<Question*>(argument);
    question->answer = question->title(question->record);
    return 0;
}

} // namespace

TEST(StandinQueryLibrary, TitlesLeaveNothingBehindWhenThreadsEndOrTheLibraryGoes) {
    HWND window =
        CreateWindowExA(0, "Static", Title, 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    dovemarl::GameInfo record = {};
    record.hwnd = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window));
    {
        Asking warmUp; // what the system makes on a first load and call
        ASSERT_NE(warmUp.title, nullptr) << "cannot load " << warmUp.path;
        warmUp.title(&record);
    }
    std::vector<HANDLE> before = standin::OpenHandles();
    int heaps = standin::CountHeaps();
    int tls = standin::FirstFreeTlsSlot();
    constexpr int Loads = 3;
    for (int load = 0; load < Loads; ++load) {
        Asking asking;
        ASSERT_NE(asking.title, nullptr);
        EXPECT_STREQ(asking.title(&record), Title);
        // This thread asks and is still there when the library goes; another
        // asks and ends while it is loaded.
        Question ended = {asking.title, &record, {}};
        HANDLE thread = CreateThread(nullptr, 0, AskOnce, &ended, 0, nullptr);
        // The title is asked of the window's thread, this one: served here.
        while (MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_ALLINPUT) !=
               WAIT_OBJECT_0) {
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                DispatchMessageA(&msg);
            }
        }
        CloseHandle(thread);
        EXPECT_EQ(ended.answer, Title);
    }
    DestroyWindow(window);
    EXPECT_EQ(standin::OpenHandles().size(), before.size())
        << "new: " << testing_support::DescribeHandlesNotIn(before);
    EXPECT_EQ(standin::CountHeaps(), heaps) << "heaps";
    EXPECT_EQ(standin::FirstFreeTlsSlot(), tls) << "first free TLS slot";
}
