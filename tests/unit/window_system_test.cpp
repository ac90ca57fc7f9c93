// The window system's set-up on first need: done once, finished before any of
// the threads that arrive together goes on, never a load of comctl32, and the
// host's own comctl32 given its classes.
#include <windows.h>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "ui/window_system.h"

namespace {

constexpr int Threads = 8;

bool CommonControlsLoaded() {
    return GetModuleHandleA("comctl32.dll") != nullptr;
}

TEST(WindowSystem, ThreadsArrivingTogetherAllFindTheSetUpDone) {
    dovemarl::ui::StartWindowSystem();
    EXPECT_EQ(dovemarl::ui::LabelFont(), nullptr) << "nothing is set up before the first need";
    bool hadCommonControls = CommonControlsLoaded();

    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::vector<HFONT> seen(Threads);
    std::vector<std::thread> threads;
    for (int i = 0; i < Threads; ++i) {
        threads.emplace_back([&, i] {
            WaitForSingleObject(go, INFINITE);
            dovemarl::ui::EnsureWindowSystem();
            seen[i] = dovemarl::ui::LabelFont();
        });
    }
    SetEvent(go);
    for (auto& thread : threads) {
        thread.join();
    }
    CloseHandle(go);

    auto guiFont = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    for (int i = 0; i < Threads; ++i) {
        EXPECT_EQ(seen[i], guiFont) << "thread " << i << " went on before the set-up was done";
    }
    EXPECT_EQ(CommonControlsLoaded(), hadCommonControls)
        << "comctl32 loaded before: " << hadCommonControls << "; the set-up must not load it";
    dovemarl::ui::WindowSystemSetUpCounts counts = dovemarl::ui::SetUpCounts();
    EXPECT_EQ(counts.setUps, 1) << "set-ups for " << Threads << " threads";
    EXPECT_EQ(counts.commonControlsInits, hadCommonControls ? 1 : 0);
}

// A host that loaded comctl32 itself has its common-control classes asked for,
// once, however many times the set-up is needed.
TEST(WindowSystem, AHostsOwnCommonControlsAreInitialisedOnce) {
    HMODULE commonControls = LoadLibraryA("comctl32.dll"); // as the host did
    ASSERT_NE(commonControls, nullptr);
    dovemarl::ui::StartWindowSystem();
    for (int i = 0; i < 3; ++i) {
        dovemarl::ui::EnsureWindowSystem();
    }
    dovemarl::ui::WindowSystemSetUpCounts counts = dovemarl::ui::SetUpCounts();
    EXPECT_EQ(counts.setUps, 1);
    EXPECT_EQ(counts.commonControlsInits, 1) << "InitCommonControlsEx of the host's comctl32";
    FreeLibrary(commonControls);
}

} // namespace
