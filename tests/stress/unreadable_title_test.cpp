// A title address that cannot be read, from the host's record or from the
// query library: the module reads it under an exception handler of its own,
// and such a title reads as the empty text, as null does; so does a title
// whose NUL lies past the end of readable memory. A guard page it touched
// keeps its guard.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "box_watcher.h"
#include "stress/stress_support.h"
#include "support/example_record.h"
#include "support/monitor_closer.h"
#include "support/plugin_library.h"
#include "support/query_library.h"
#include "support/wait_until.h"

namespace {

using testing_support::GameInfo;

constexpr size_t PageBytes = 4096;

struct Case {
    const char* name;
    const char* title;
};

TEST(UnreadableTitle, ReadsAsEmptyInTheBoxAndTheLabel) {
    testing_support::PluginLibrary plugin;
    ASSERT_TRUE(plugin.Loaded());
    testing_support::QueryLibraryDouble queries(testing_support::QueryLibrary::Absent);
    // Two pages: the first readable and filled with text up to its end, the
    // second reserved only.
    auto* pages =
        static_cast<char*>(VirtualAlloc(nullptr, 2 * PageBytes, MEM_RESERVE, PAGE_NOACCESS));
    ASSERT_NE(pages, nullptr);
    ASSERT_NE(VirtualAlloc(pages, PageBytes, MEM_COMMIT, PAGE_READWRITE), nullptr);
    std::memset(pages, 'u', PageBytes);
    // A guard page: the system takes the guard away when it is touched.
    auto* guarded = static_cast<char*>(
        VirtualAlloc(nullptr, PageBytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE | PAGE_GUARD));
    ASSERT_NE(guarded, nullptr);
    // A text that ends just before the end of its page.
    auto* last = static_cast<char*>(
        VirtualAlloc(nullptr, PageBytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    ASSERT_NE(last, nullptr);
    std::strcpy(last + PageBytes - 5, "tail");

    const Case cases[] = {
        {"reserved page", pages + PageBytes},
        {"runs into a reserved page", pages},
        {"guard page", guarded},
        {"low address", reinterpret_cast<const char*>(16)},
        {"text at the end of a page", last + PageBytes - 5},
    };
    standin::BoxWatcher boxes;
    for (const Case& c : cases) {
        bool readable = std::strcmp(c.name, "text at the end of a page") == 0;
        std::string shown = readable ? "tail" : "";
        size_t boxesBefore = boxes.Seen().size();
        GameInfo info = testing_support::ExampleRecord();
        info.title = c.title;
        std::string label;
        testing_support::MonitorCloser closer([&](HWND monitor) {
            testing_support::WaitUntil(
                [&] {
                    auto texts = stress::ChildTexts(monitor);
                    label = texts.size() == 7 ? texts[1] : "";
                    return label == "Title: " + shown;
                },
                5000);
        });
        struct Call {
            testing_support::PluginRun run;
            GameInfo* info;
            int32_t result;
        } call = {plugin.run, &info, -1};
        {
            // Each run on a thread of its own, as a host's worker would.
            stress::HostThread thread(
                [](void* argument) {
                    auto* run = static_cast<Call*>(argument);
                    run->result = run->run(run->info);
                },
                &call);
            EXPECT_TRUE(thread.Join(30000)) << c.name;
        }
        EXPECT_EQ(call.result, 0) << c.name;
        ASSERT_GE(boxes.Seen().size(), boxesBefore + 1) << c.name;
        std::string box = boxes.Seen()[boxesBefore].text;
        std::string boxTitle = box.substr(0, box.find("\r\nPid")).substr(26, 40);
        std::printf("%-26s box: %s | label: [%s]\n", c.name, boxTitle.c_str(),
                    label.substr(0, 40).c_str());
        EXPECT_TRUE(boxTitle == "Title: '" + shown + "'") << c.name << ": " << boxTitle;
        EXPECT_TRUE(label == "Title: " + shown) << c.name << ": " << label.substr(0, 40);
    }
    MEMORY_BASIC_INFORMATION region = {};
    VirtualQuery(guarded, &region, sizeof region);
    EXPECT_NE(region.Protect & PAGE_GUARD, 0u) << "the guard page lost its guard";
    VirtualFree(guarded, 0, MEM_RELEASE);
    VirtualFree(last, 0, MEM_RELEASE);
    VirtualFree(pages, 0, MEM_RELEASE);
}

} // namespace
