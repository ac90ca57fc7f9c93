#include "monitor_bench.h"

#include <cstdio>
#include <cstring>

#include "bench_clock.h"
#include "box_watcher.h"
#include "monitor_session.h"
#include "reference_loop.h"
#include "support/example_record.h"

namespace bench {

namespace {

using testing_support::GameInfo;
using testing_support::PluginLibrary;

constexpr int LatencyChanges = 250;
constexpr DWORD LabelTimeoutMs = 1000;
constexpr DWORD IdleRunMs = 10000;
constexpr int AppearanceRuns = 15;
constexpr DWORD MonitorTimeoutMs = 10000;

// The tests' example record, titled like the stand-in host's game.
GameInfo Record() {
    GameInfo record = testing_support::ExampleRecord();
    record.title = "Tidewarden";
    return record;
}

struct FindLabel {
    const wchar_t* prefix;
    HWND found;
};

BOOL CALLBACK MatchLabel(HWND child, LPARAM argument) {
    auto* find = reinterpret_cast<FindLabel*>(argument);
    wchar_t text[64] = {};
    InternalGetWindowText(child, text, 64);
    if (std::wcsncmp(text, find->prefix, std::wcslen(find->prefix)) == 0) {
        find->found = child;
        return FALSE;
    }
    return TRUE;
}

// The label whose text starts with prefix. Read without a message, so that
// the monitor's thread is not disturbed by the reading.
HWND LabelStartingWith(HWND monitor, const wchar_t* prefix) {
    FindLabel find = {prefix, nullptr};
    EnumChildWindows(monitor, MatchLabel, reinterpret_cast<LPARAM>(&find));
    return find.found;
}

bool LabelShows(HWND label, const wchar_t* expected) {
    wchar_t text[64] = {};
    InternalGetWindowText(label, text, 64);
    return std::wcscmp(text, expected) == 0;
}

// Changes the record's x position and measures until the "X: " label shows
// it. Changes land at pseudo-random points of the refresh cycle, as a host's
// do; each change waits for the one before it to show.
Row LabelLatency(PluginLibrary& plugin) {
    GameInfo record = Record();
    standin::BoxWatcher watcher;
    MonitorSession session(plugin, &record);
    HWND monitor = session.WaitForMonitor(MonitorTimeoutMs);
    HWND label = nullptr;
    for (DWORD start = GetTickCount(); label == nullptr && GetTickCount() - start < 2000;) {
        label = LabelStartingWith(monitor, L"X: ");
        Sleep(1);
    }
    std::vector<double> latencies;
    uint32_t seed = 12345;
    for (int i = 0; i < LatencyChanges && label != nullptr; ++i) {
        seed = seed * 1103515245 + 12345;
        Sleep((seed >> 16) % 10);
        wchar_t expected[32];
        std::swprintf(expected, 32, L"X: %d", 1000 + i);
        double changed = Now();
        record.winx = 1000 + i;
        while (!LabelShows(label, expected) && Now() - changed < LabelTimeoutMs / 1000.0) {
            Sleep(1);
        }
        latencies.push_back((Now() - changed) * 1e3);
    }
    session.Close();
    double median = Median(latencies);
    double max = Max(latencies);
    bool complete = static_cast<int>(latencies.size()) == LatencyChanges;
    return {"Label refresh after a record change, median / max over " +
                std::to_string(LatencyChanges) + " changes",
            complete ? Format(median, 1, " ms") + " / " + Format(max, 1, " ms") : "no label",
            "10 ms refresh period", "median <= 12 ms, max <= 25 ms",
            complete && median <= 12 && max <= 25};
}

Row IdleCpu(PluginLibrary& plugin) {
    GameInfo record = Record();
    double ours = 0;
    {
        standin::BoxWatcher watcher;
        MonitorSession session(plugin, &record);
        session.WaitForMonitor(MonitorTimeoutMs);
        Sleep(200); // past the first refreshes and paints
        double before = CpuSeconds(session.Thread());
        Sleep(IdleRunMs);
        ours = CpuSeconds(session.Thread()) - before;
    }
    double reference = ReferenceLoopCpu(&record, IdleRunMs);
    double ratio = reference > 0 ? ours / reference : 0;
    return {"CPU time of the idle monitor loop over 10 s", Format(ours * 1e3, 0, " ms"),
            Format(reference * 1e3, 0, " ms") + " (minimal loop; ratio " + Format(ratio, 2) + ")",
            "ratio <= 1.1", reference > 0 && ratio <= 1.1};
}

// From the moment the second box is dismissed to the monitor window being
// visible, over several whole runs.
Row MonitorAppears(PluginLibrary& plugin) {
    std::vector<double> delays;
    for (int run = 0; run < AppearanceRuns; ++run) {
        volatile double dismissed = 0;
        standin::BoxWatcher watcher([&](const standin::SeenBox& box) {
            if (box.title == "Dovemarl Debug 2") {
                dismissed = Now(); // the watcher dismisses it as this returns
            }
        });
        GameInfo record = Record();
        MonitorSession session(plugin, &record);
        HWND monitor = session.WaitForMonitor(MonitorTimeoutMs);
        double visible = Now();
        if (monitor != nullptr && dismissed > 0) {
            delays.push_back((visible - dismissed) * 1e3);
        }
        session.Close();
    }
    double median = Median(delays);
    bool complete = static_cast<int>(delays.size()) == AppearanceRuns;
    return {"Second box dismissed to monitor visible, median of " + std::to_string(AppearanceRuns) +
                " runs (max)",
            complete ? Format(median, 1, " ms") + " (" + Format(Max(delays), 1, " ms") + ")"
                     : "monitor missing",
            "-", "<= 50 ms", complete && median <= 50};
}

} // namespace

std::vector<Row> MonitorBenchmarks() {
    PluginLibrary plugin;
    if (!plugin.Loaded()) {
        std::fprintf(stderr, "Dovemarl.dll could not be loaded\n");
        return {};
    }
    {
        standin::BoxWatcher greeting;
        plugin.load(0);
    }
    std::vector<Row> rows;
    rows.push_back(LabelLatency(plugin));
    rows.push_back(IdleCpu(plugin));
    rows.push_back(MonitorAppears(plugin));
    standin::BoxWatcher farewell;
    plugin.unload(0);
    return rows;
}

} // namespace bench
