// Dovemarl.dll loaded into a test host: the greeting and farewell boxes.
#include <gtest/gtest.h>

#include "box_watcher.h"
#include "support/seen_boxes.h"
#include "support/plugin_library.h"

namespace {

using standin::BoxWatcher;
using testing_support::Export;
using testing_support::PluginLibrary;

constexpr char Greeting[] = "Hello from Dovemarl!\r\nThis is the plugin load function.";
constexpr char Farewell[] = "Goodbye from Dovemarl!\r\nThis is the plugin unload function.";

TEST(EntryPoints, ExportsAreFoundByName) {
    PluginLibrary plugin;
    ASSERT_TRUE(plugin.Loaded()) << "LoadLibraryA error " << GetLastError();
    EXPECT_NE(plugin.load, nullptr);
    EXPECT_NE(plugin.run, nullptr);
    EXPECT_NE(plugin.unload, nullptr);
    // Ordinals 1 to 3, in that order.
    auto byOrdinal = [&](int ordinal) {
        return Export<void*>(plugin.Module(), MAKEINTRESOURCEA(ordinal));
    };
    EXPECT_EQ(byOrdinal(1), reinterpret_cast<void*>(plugin.load));
    EXPECT_EQ(byOrdinal(2), reinterpret_cast<void*>(plugin.run));
    EXPECT_EQ(byOrdinal(3), reinterpret_cast<void*>(plugin.unload));
    EXPECT_EQ(byOrdinal(4), nullptr);
}

TEST(EntryPoints, LoadAndUnloadShowTheirBoxesWhateverTheArgument) {
    PluginLibrary plugin;
    ASSERT_TRUE(plugin.Loaded());
    BoxWatcher watcher;
    const int32_t arguments[] = {0, 1, -1, 0x7FFFFFFF};
    for (int32_t argument : arguments) {
        EXPECT_EQ(plugin.load(argument), 0) << "pluginload(" << argument << ")";
        EXPECT_EQ(plugin.unload(argument), 0) << "pluginunload(" << argument << ")";
    }
    auto boxes = watcher.Seen();
    ASSERT_EQ(boxes.size(), 8u) << testing::PrintToString(boxes);
    HICON information = LoadIconA(nullptr, IDI_INFORMATION);
    for (size_t i = 0; i < boxes.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "box " << i);
        EXPECT_EQ(boxes[i].title, "Dovemarl");
        EXPECT_EQ(boxes[i].text, i % 2 == 0 ? Greeting : Farewell);
        EXPECT_EQ(boxes[i].icon, information);
        EXPECT_EQ(boxes[i].threadId, GetCurrentThreadId());
    }
}

TEST(EntryPoints, UnloadWithoutLoadSaysGoodbye) {
    PluginLibrary plugin;
    ASSERT_TRUE(plugin.Loaded());
    BoxWatcher watcher;
    EXPECT_EQ(plugin.unload(0), 0);
    ASSERT_EQ(watcher.Seen().size(), 1u) << testing::PrintToString(watcher.Seen());
    EXPECT_EQ(watcher.Seen()[0].text, Farewell);
}

TEST(EntryPoints, LoadsAndUnloadsWithoutCallingAnything) {
    for (int i = 0; i < 20; ++i) {
        PluginLibrary plugin;
        ASSERT_TRUE(plugin.Loaded()) << "cycle " << i;
    }
}

} // namespace
