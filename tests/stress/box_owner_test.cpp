// Who owns a box when the foreground window is the host's own, on a thread
// other than the one calling the plug-in. A box disables its owner by a
// message to the owner's thread: if that thread is blocked waiting for the
// plug-in's thread, the box must not be given that owner, or neither thread
// ever moves again. A foreground window whose thread answers keeps owning it.
#include <gtest/gtest.h>

#include "box_watcher.h"
#include "stress/stress_support.h"
#include "support/plugin_library.h"
#include "support/wait_until.h"
#include "support/windows.h"

namespace {

using testing_support::PluginLibrary;

constexpr DWORD HangLimitMs = 15000;
constexpr DWORD UnblockLimitMs = 30000;

void CallLoad(void* plugin) {
    static_cast<PluginLibrary*>(plugin)->load(0);
}

void CallUnload(void* plugin) {
    static_cast<PluginLibrary*>(plugin)->unload(0);
}

// This thread plays the host's user-interface thread: its window is in the
// foreground, and it waits for the calling thread without pumping messages.
// Returns how long the call took; pumps afterwards if it had to, so that a
// hang found is ended rather than kept.
DWORD CallWhileBlocked(stress::HostThread::Body call, PluginLibrary* plugin, bool* hung) {
    DWORD start = GetTickCount();
    stress::HostThread caller(call, plugin);
    *hung = !caller.Join(HangLimitMs);
    DWORD elapsed = GetTickCount() - start;
    for (DWORD unblock = GetTickCount(); *hung && !caller.Join(10);) {
        testing_support::FlushMessages();
        if (GetTickCount() - unblock > UnblockLimitMs) {
            std::printf("still blocked after pumping; ending the process\n");
            std::fflush(stdout);
            TerminateProcess(GetCurrentProcess(), 4);
        }
    }
    return elapsed;
}

TEST(BoxOwner, HostThreadBlockedOnTheCallerDoesNotOwnTheBox) {
    PluginLibrary plugin;
    ASSERT_TRUE(plugin.Loaded());
    standin::BoxWatcher boxes;
    HWND host = testing_support::MakeWindow("blocked host");
    ASSERT_TRUE(testing_support::WaitForForeground(host));

    const stress::HostThread::Body calls[] = {CallLoad, CallUnload};
    const char* names[] = {"pluginload", "pluginunload"};
    for (int i = 0; i < 2; ++i) {
        SetForegroundWindow(host); // the unowned box of the last call took it
        ASSERT_TRUE(testing_support::WaitForForeground(host));
        size_t before = boxes.Seen().size();
        bool hung = false;
        DWORD elapsed = CallWhileBlocked(calls[i], &plugin, &hung);
        std::printf("%s with the host thread blocked: %lu ms%s\n", names[i], elapsed,
                    hung ? " (hung)" : "");
        EXPECT_FALSE(hung) << names[i];
        ASSERT_EQ(boxes.Seen().size(), before + 1) << names[i];
        standin::SeenBox box = boxes.Seen().back();
        EXPECT_EQ(box.owner, nullptr)
            << names[i] << ": owned by " << box.owner << ", host " << host;
        testing_support::FlushMessages();
        EXPECT_TRUE(IsWindowEnabled(host)) << names[i];
    }
    DestroyWindow(host);
}

TEST(BoxOwner, AnsweringForegroundWindowOfAnotherThreadOwnsTheBox) {
    PluginLibrary plugin;
    ASSERT_TRUE(plugin.Loaded());
    standin::BoxWatcher boxes;
    testing_support::WindowThread ui;
    HWND host = ui.MakeWindow("answering host");
    ASSERT_TRUE(testing_support::WaitUntil([&] { return GetForegroundWindow() == host; }, 2000));
    bool disabledWhileUp = false;
    standin::BoxWatcher watching(
        [&](const standin::SeenBox&) { disabledWhileUp = !IsWindowEnabled(host); });
    watching.SetDismissing(true);
    boxes.SetDismissing(false);
    DWORD start = GetTickCount();
    plugin.load(0);
    std::printf("pluginload with an answering host thread: %lu ms\n", GetTickCount() - start);
    std::vector<standin::SeenBox> seen = watching.Seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].owner, host);
    EXPECT_TRUE(disabledWhileUp) << "the owner is disabled while the box is up";
    EXPECT_TRUE(IsWindowEnabled(host));
}

} // namespace
