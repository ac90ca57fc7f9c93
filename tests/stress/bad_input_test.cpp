// Hostile input through the host contract: no record, no title, a 1 MiB
// title, a title of every byte value, extreme values in every field, and a
// record that another thread changes as fast as it can while the monitor
// refreshes: every call ends with 0, and every label shows a value that its
// field really held.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "box_watcher.h"
#include "doubles/query_fault_double.h"
#include "stress/stress_support.h"
#include "support/example_record.h"
#include "support/monitor_closer.h"
#include "support/plugin_library.h"
#include "support/query_library.h"
#include "support/wait_until.h"

namespace {

using standin::SeenBox;
using testing_support::GameInfo;
using testing_support::MonitorCloser;

constexpr int BoxTextId = 0xFFFF;

// The label texts of a monitor once they show expected, or what they show
// after five seconds.
std::vector<std::string> LabelsOnceThey(HWND monitor, const std::vector<std::string>& expected,
                                        int capacity = 512) {
    std::vector<std::string> texts;
    testing_support::WaitUntil(
        [&] {
            texts.clear();
            for (const std::string& text : stress::ChildTexts(monitor)) {
                texts.push_back(text);
            }
            if (capacity > 512) {
                texts.clear();
                HWND child = GetWindow(monitor, GW_CHILD);
                for (; child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
                    texts.push_back(stress::TextOf(child, capacity));
                }
            }
            return texts == expected;
        },
        5000);
    return texts;
}

std::string Report(const std::string& title, const std::string& rest) {
    return "###Raw structure read###\r\nTitle: '" + title + "'\r\n" + rest;
}

class BadInput : public testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(plugin_.Loaded()); }
    testing_support::PluginLibrary plugin_;
    testing_support::QueryLibraryDouble queries_{testing_support::QueryLibrary::Absent};
};

TEST_F(BadInput, NullRecordFromManyThreadsAtOnce) {
    standin::BoxWatcher boxes;
    constexpr int Threads = 8, CallsEach = 500;
    struct Caller {
        testing_support::PluginRun run;
        int nonzero;
    };
    std::vector<Caller> callers(Threads, Caller{plugin_.run, 0});
    DWORD start = GetTickCount();
    {
        std::vector<std::unique_ptr<stress::HostThread>> threads;
        for (Caller& caller : callers) {
            threads.push_back(std::make_unique<stress::HostThread>(
                [](void* argument) {
                    auto* caller = static_cast<Caller*>(argument);
                    for (int i = 0; i < CallsEach; ++i) {
                        caller->nonzero += caller->run(nullptr) != 0;
                    }
                },
                &caller));
        }
    }
    std::printf("%d calls with no record in %lu ms\n", Threads * CallsEach, GetTickCount() - start);
    for (const Caller& caller : callers) {
        EXPECT_EQ(caller.nonzero, 0);
    }
    Sleep(100);
    EXPECT_EQ(boxes.Seen().size(), 0u);
}

TEST_F(BadInput, NullTitleReadsAsEmpty) {
    standin::BoxWatcher boxes;
    GameInfo info = testing_support::ExampleRecord();
    info.title = nullptr;
    std::vector<std::string> labels;
    MonitorCloser closer([&](HWND monitor) {
        labels = LabelsOnceThey(monitor, {"Pid: 812", "Title: ", "X: 100", "Y: 50", "Width: 800",
                                          "Height: 600", "Hwnd :590"});
    });
    EXPECT_EQ(plugin_.run(&info), 0);
    ASSERT_GE(boxes.Seen().size(), 1u);
    EXPECT_EQ(boxes.Seen()[0].text,
              Report("", "Pid: 812\r\nHwnd: 590\r\nX/Y: 100/50\r\nWidth/Height: 800/600"));
    ASSERT_EQ(labels.size(), 7u);
    EXPECT_EQ(labels[1], "Title: ");
}

TEST_F(BadInput, MebibyteTitleReachesTheBoxAndTheLabel) {
    std::string title(query_fault::HugeTitleBytes, 'x');
    for (size_t i = 0; i < title.size(); ++i) {
        title[i] = static_cast<char>('a' + i % 26);
    }
    LRESULT boxTextLength = 0;
    standin::BoxWatcher boxes([&](const SeenBox& box) {
        if (box.title == "Dovemarl Debug 1") {
            boxTextLength = SendMessageA(GetDlgItem(box.box, BoxTextId), WM_GETTEXTLENGTH, 0, 0);
        }
    });
    GameInfo info = testing_support::ExampleRecord();
    info.title = title.c_str();
    std::string label;
    DWORD shownAfter = 0;
    DWORD start = GetTickCount();
    MonitorCloser closer([&](HWND monitor) {
        testing_support::WaitUntil(
            [&] {
                HWND second = GetWindow(GetWindow(monitor, GW_CHILD), GW_HWNDNEXT);
                label = stress::TextOf(second, static_cast<int>(title.size()) + 64);
                return label.size() > title.size();
            },
            20000);
        shownAfter = GetTickCount() - start;
    });
    EXPECT_EQ(plugin_.run(&info), 0);
    std::printf("1 MiB title: call %lu ms, label shown after %lu ms, box text %ld bytes\n",
                GetTickCount() - start, shownAfter, static_cast<long>(boxTextLength));
    // The box is shown; how much of such a text it shows is the system's
    // affair (Wine's boxes keep the text's length modulo 65536), and only
    // printed.
    EXPECT_GT(boxTextLength, 0);
    EXPECT_TRUE(label == "Title: " + title) << "label of " << label.size() << " bytes";
}

TEST_F(BadInput, TitleOfEveryByteValue) {
    std::string title;
    for (int byte = 1; byte <= 255; ++byte) {
        title.push_back(static_cast<char>(byte));
    }
    // The box and the label hold their texts as wide characters: both sides
    // are compared after the same conversion.
    auto wide = [](const std::string& text) {
        std::wstring out(text.size() + 1, L'\0');
        int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                    out.data(), static_cast<int>(out.size()));
        out.resize(static_cast<size_t>(n));
        return out;
    };
    std::wstring boxText;
    standin::BoxWatcher boxes([&](const SeenBox& box) {
        if (box.title == "Dovemarl Debug 1") {
            WCHAR buffer[1024] = L"";
            GetWindowTextW(GetDlgItem(box.box, BoxTextId), buffer, 1024);
            boxText = buffer;
        }
    });
    GameInfo info = testing_support::ExampleRecord();
    info.title = title.c_str();
    std::wstring label;
    MonitorCloser closer([&](HWND monitor) {
        testing_support::WaitUntil(
            [&] {
                WCHAR buffer[1024] = L"";
                InternalGetWindowText(GetWindow(GetWindow(monitor, GW_CHILD), GW_HWNDNEXT), buffer,
                                      1024);
                label = buffer;
                return label.size() > 7;
            },
            5000);
    });
    EXPECT_EQ(plugin_.run(&info), 0);
    std::wstring expectedBox =
        wide(Report(title, "Pid: 812\r\nHwnd: 590\r\nX/Y: 100/50\r\nWidth/Height: 800/600"));
    EXPECT_EQ(boxText.size(), expectedBox.size());
    EXPECT_TRUE(boxText == expectedBox) << "the box shows all 255 byte values";
    EXPECT_TRUE(label == wide("Title: " + title)) << "label of " << label.size() << " characters";
}

TEST_F(BadInput, ExtremeValuesInEveryField) {
    struct Case {
        int32_t value;
        uint32_t hwnd;
        const char* shown;
    };
    const Case cases[] = {{INT32_MIN, 0x80000000u, "-2147483648"},
                          {INT32_MAX, 0x7FFFFFFFu, "2147483647"}};
    standin::BoxWatcher boxes;
    for (const Case& c : cases) {
        size_t boxesBefore = boxes.Seen().size();
        GameInfo info = {c.value, c.value, c.value, c.value, c.value, c.hwnd, nullptr, "Edge"};
        std::string n = c.shown;
        std::vector<std::string> expected = {"Pid: " + n,   "Title: Edge",  "X: " + n,   "Y: " + n,
                                             "Width: " + n, "Height: " + n, "Hwnd :" + n};
        std::vector<std::string> labels;
        RECT place = {};
        {
            MonitorCloser closer([&](HWND monitor) {
                labels = LabelsOnceThey(monitor, expected);
                GetWindowRect(monitor, &place);
            });
            struct Call {
                testing_support::PluginRun run;
                GameInfo* info;
                int32_t result;
            } call = {plugin_.run, &info, -1};
            stress::HostThread thread(
                [](void* argument) {
                    auto* c = static_cast<Call*>(argument);
                    c->result = c->run(c->info);
                },
                &call);
            EXPECT_TRUE(thread.Join(30000));
            EXPECT_EQ(call.result, 0) << n;
        }
        std::printf("all fields %s: monitor at %ld,%ld\n", c.shown, place.left, place.top);
        ASSERT_GE(boxes.Seen().size(), boxesBefore + 1);
        EXPECT_EQ(boxes.Seen()[boxesBefore].text,
                  Report("Edge", "Pid: " + n + "\r\nHwnd: " + n + "\r\nX/Y: " + n + "/" + n +
                                     "\r\nWidth/Height: " + n + "/" + n));
        EXPECT_EQ(labels, expected);
    }
}

// The record changes under the monitor as fast as another thread can write
// it: each field takes turns among a few values, the title pointer among a few
// live texts and null. Every label read must be one its field could show.
TEST_F(BadInput, RecordChangedByAnotherThreadWhileTheMonitorRefreshes) {
    struct Mutation {
        volatile GameInfo* record;
        volatile LONG stop;
        long writes;
    };
    static const char* const titles[] = {"alpha", "a much longer title than the others", "",
                                         nullptr, "omega"};
    static const int32_t values[] = {0, -1, 812, INT32_MIN, INT32_MAX, 1234567};
    GameInfo info = testing_support::ExampleRecord();
    Mutation mutation = {&info, 0, 0};

    std::vector<std::set<std::string>> allowed(7);
    const char* prefixes[] = {"Pid: ", "Title: ", "X: ", "Y: ", "Width: ", "Height: ", "Hwnd :"};
    for (int label = 0; label < 7; ++label) {
        if (label == 1) {
            for (const char* title : titles) {
                allowed[1].insert(std::string(prefixes[1]) + (title != nullptr ? title : ""));
            }
            allowed[1].insert("Title: Game");
            continue;
        }
        for (int32_t value : values) {
            allowed[label].insert(prefixes[label] + std::to_string(value));
        }
    }
    for (auto& texts : allowed) {
        texts.insert(""); // a label's text before the first refresh
    }
    allowed[0].insert("Pid: 812");
    allowed[2].insert("X: 100");
    allowed[3].insert("Y: 50");
    allowed[4].insert("Width: 800");
    allowed[5].insert("Height: 600");
    allowed[6].insert("Hwnd :590");

    long samples = 0, wrong = 0, changes = 0;
    std::string firstWrong;
    standin::BoxWatcher boxes;
    MonitorCloser closer([&](HWND monitor) {
        stress::HostThread mutator(
            [](void* argument) {
                auto* m = static_cast<Mutation*>(argument);
                for (unsigned i = 0; !m->stop; ++i, ++m->writes) {
                    m->record->pid = values[i % 6];
                    m->record->winx = values[(i + 1) % 6];
                    m->record->winy = values[(i + 2) % 6];
                    m->record->winwidth = values[(i + 3) % 6];
                    m->record->winheight = values[(i + 4) % 6];
                    m->record->hwnd = static_cast<uint32_t>(values[(i + 5) % 6]);
                    m->record->title = titles[i % 5];
                }
            },
            &mutation);
        std::vector<std::string> last;
        for (DWORD start = GetTickCount(); GetTickCount() - start < 2000;) {
            std::vector<std::string> texts = stress::ChildTexts(monitor);
            if (texts.size() != 7) {
                continue;
            }
            for (int label = 0; label < 7; ++label) {
                ++samples;
                if (allowed[label].count(texts[label]) == 0) {
                    if (wrong++ == 0) {
                        firstWrong = texts[label];
                    }
                }
            }
            changes += texts != last;
            last = texts;
        }
        InterlockedExchange(&mutation.stop, 1);
    });
    EXPECT_EQ(plugin_.run(&info), 0);
    std::printf("record written %ld times; %ld label readings, %ld distinct pictures, %ld wrong\n",
                mutation.writes, samples, changes, wrong);
    EXPECT_EQ(wrong, 0) << "first wrong label: [" << firstWrong << "]";
    EXPECT_GT(changes, 10) << "the labels followed the changes";
}

} // namespace
