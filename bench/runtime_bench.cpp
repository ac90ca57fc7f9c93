// Timings of the module's runtime and of the plug-in as a host sees it:
// text building, handle tables, per-thread state release, load and unload,
// and the time pluginrun takes to its first box. Prints one line per figure.
#include <windows.h>

#include <cstdio>
#include <functional>
#include <vector>

#include "box_watcher.h"
#include "host/game_info.h"
#include "run/report_text.h"
#include "runtime/module.h"
#include "runtime/object_table.h"
#include "runtime/text_building.h"
#include "runtime/text_variable.h"
#include "runtime/text_workspace.h"
#include "runtime/thread_exit.h"
#include "support/monitor_closer.h"
#include "support/plugin_library.h"

namespace {

using namespace dovemarl;

double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Runs work count times and prints the mean time per run.
void Measure(const char* what, int count, const std::function<void()>& work) {
    double start = Now();
    for (int i = 0; i < count; ++i) {
        work();
    }
    double perRun = (Now() - start) / count;
    if (perRun < 1e-3) {
        std::printf("%-44s %10.1f ns\n", what, perRun * 1e9);
    } else {
        std::printf("%-44s %10.3f ms\n", what, perRun * 1e3);
    }
}

void TextBenchmarks() {
    int32_t value = -2147483647;
    Measure("AppendDecimal, 32-bit value", 1000000, [&] {
        int32_t mark = runtime::TextMark();
        runtime::AppendDecimal(value += 7919);
        runtime::TextRelease(mark);
    });
    host::GameInfo record = {812, 100, 50, 800, 600, 590, nullptr, "Game"};
    Measure("raw report, built and released", 200000, [&] {
        int32_t mark = runtime::TextMark();
        run::AppendReport(run::RawReportHeading, &record);
        runtime::TextSeal();
        runtime::TextRelease(mark);
    });
    char* variable = nullptr;
    Measure("AssignText, same 32-character text", 200000,
            [&] { runtime::AssignText(&variable, "Tidewarden - Hello from Dovemarl"); });
}

void TableBenchmarks() {
    runtime::ObjectTable* table = runtime::MakeObjectTable(4, 16, nullptr);
    Measure("ObtainRecord + GiveBackRecord, AnyNumber", 200000, [&] {
        void* record = runtime::ObtainRecord(table, runtime::AnyNumber);
        runtime::GiveBackRecord(table, runtime::HandleOf(record));
    });
    std::vector<int32_t> handles;
    for (int i = 0; i < 100; ++i) {
        void* record = runtime::ObtainRecord(table, runtime::AnyNumber);
        *static_cast<uint32_t*>(record) = 1;
        handles.push_back(runtime::HandleOf(record));
    }
    size_t next = 0;
    Measure("FindRecord among 100 handles", 200000,
            [&] { runtime::FindRecord(table, handles[next++ % handles.size()]); });
    runtime::RetireObjectTable(table);
}

DWORD WINAPI UseWorkspace(void*) {
    runtime::ReadyTextWorkspace();
    return 0;
}

void ThreadBenchmarks() {
    constexpr int Threads = 200;
    Measure("200 threads with workspaces, one at a time", 1, [&] {
        std::vector<HANDLE> handles;
        for (int i = 0; i < Threads; ++i) {
            HANDLE thread = CreateThread(nullptr, 0, UseWorkspace, nullptr, 0, nullptr);
            WaitForSingleObject(thread, INFINITE); // one at a time: one watcher churns
            CloseHandle(thread);
        }
    });
}

void PluginBenchmarks() {
    Measure("Dovemarl.dll LoadLibrary + FreeLibrary", 200,
            [] { testing_support::PluginLibrary plugin; });
    testing_support::PluginLibrary plugin;
    double firstBox = 0;
    double entered = 0;
    standin::BoxWatcher watcher([&](const standin::SeenBox& box) {
        if (box.title == "Dovemarl Debug 1") {
            firstBox = Now();
        }
    });
    testing_support::MonitorCloser closer;
    for (int i = 0; i < 3; ++i) {
        testing_support::GameInfo info = {};
        entered = Now();
        plugin.run(&info);
        std::printf("%-44s %10.3f ms\n", "pluginrun: entry to first box",
                    (firstBox - entered) * 1e3);
    }
}

} // namespace

int main() {
    runtime::StartModule(GetModuleHandleA(nullptr));
    TextBenchmarks();
    TableBenchmarks();
    ThreadBenchmarks();
    runtime::StopModule();
    PluginBenchmarks();
    return 0;
}
