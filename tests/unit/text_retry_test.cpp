// The text service's second attempt: when start-up could not make TextHeap or
// the text slot, the first threads that build texts make what is missing, once
// for all of them, and then build as usual.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "runtime/heaps.h"
#include "runtime/module.h"
#include "runtime/text_building.h"
#include "runtime/text_variable.h"
#include "runtime/text_workspace.h"

namespace {

using namespace dovemarl::runtime;

constexpr int Builders = 8;

// What one builder thread saw.
struct Built {
    bool hadWorkspace = false;
    std::string text;
    std::string assigned;
    HANDLE heap = nullptr;
};

struct Start {
    HANDLE go;
    Built* result;
    int index;
};

DWORD WINAPI BuildTexts(void* argument) {
    auto* start = static_cast<Start*>(argument);
    WaitForSingleObject(start->go, INFINITE);
    start->result->hadWorkspace = CurrentTextWorkspace() != nullptr;
    int32_t mark = TextMark();
    AppendText("builder ");
    AppendDecimal(start->index);
    start->result->text = TextBase() + mark;
    TextRelease(mark);
    char* field = nullptr;
    if (AssignText(&field, "field") != 0 && field != nullptr) {
        start->result->assigned = field;
    }
    FreeText(field);
    start->result->heap = PublishedTextHeap();
    return 0;
}

// Builder threads that start building at the same moment.
std::vector<Built> BuildOnThreads() {
    std::vector<Built> results(Builders);
    std::vector<Start> starts(Builders);
    std::vector<HANDLE> threads;
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    for (int i = 0; i < Builders; ++i) {
        starts[i] = {go, &results[i], i};
        threads.push_back(CreateThread(nullptr, 0, BuildTexts, &starts[i], 0, nullptr));
    }
    SetEvent(go);
    WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE, INFINITE);
    for (HANDLE thread : threads) {
        CloseHandle(thread);
    }
    CloseHandle(go);
    return results;
}

void ExpectAllBuilt(const std::vector<Built>& results) {
    for (int i = 0; i < Builders; ++i) {
        EXPECT_TRUE(results[i].hadWorkspace) << "builder " << i;
        EXPECT_EQ(results[i].text, "builder " + std::to_string(i)) << "builder " << i;
        EXPECT_EQ(results[i].assigned, "field") << "builder " << i;
        EXPECT_EQ(results[i].heap, results[0].heap) << "builder " << i << ": one heap for all";
    }
    EXPECT_NE(results[0].heap, nullptr);
}

// Each test takes the text service apart; the whole module is started afresh
// afterwards (hooks still pending are dropped with the stop).
class TextRetryTest : public testing::Test {
  protected:
    void TearDown() override {
        StopModule();
        StartModule(GetModuleHandleA(nullptr));
    }
};

TEST_F(TextRetryTest, HeapMissingAfterStartUpIsMadeByTheFirstBuilders) {
    // As if start-up had made the slot but not the heap. (This thread's
    // workspace goes with the heap; this thread builds nothing until the
    // module is started again.)
    DestroyPrivateHeap(TextHeap);
    ASSERT_EQ(PublishedTextHeap(), nullptr);
    ExpectAllBuilt(BuildOnThreads());
}

TEST_F(TextRetryTest, SlotMissingAtStartUpIsMadeByTheFirstBuilders) {
    StopTextService();
    // Take every free slot so that start-up cannot have one, then give them back.
    std::vector<DWORD> taken;
    for (DWORD slot = TlsAlloc(); slot != TLS_OUT_OF_INDEXES; slot = TlsAlloc()) {
        taken.push_back(slot);
    }
    StartTextService();
    for (DWORD slot : taken) {
        TlsFree(slot);
    }
    ASSERT_FALSE(taken.empty());
    ExpectAllBuilt(BuildOnThreads());
}

} // namespace
