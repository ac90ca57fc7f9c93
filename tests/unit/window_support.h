#pragma once
// Shared by the window layer's tests: a fixture that closes every module
// window and empties the thread's event queue after each test, and readers of
// what the queue and the waits produced.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <vector>

#include "ui/event_queue.h"
#include "ui/event_wait.h"
#include "ui/top_window.h"
#include "support/windows.h"

namespace window_testing {

// The codes queued for the calling thread, oldest first, without taking them.
inline std::vector<int32_t> QueuedCodes() {
    dovemarl::ui::Event events[64];
    int count = dovemarl::ui::PeekQueuedEvents(events, 64);
    std::vector<int32_t> codes;
    for (int i = 0; i < count && i < 64; ++i) {
        codes.push_back(events[i].code);
    }
    return codes;
}

// Takes every queued event and pending message through WaitEvent.
inline void DrainEvents() {
    for (int i = 0; i < 1000; ++i) {
        if (dovemarl::ui::WaitEvent(0) == 0 && QueuedCodes().empty()) {
            return;
        }
    }
}

// Only the codes of interest, in order.
inline std::vector<int32_t> Only(const std::vector<int32_t>& codes,
                                 std::initializer_list<int32_t> wanted) {
    std::vector<int32_t> kept;
    for (int32_t code : codes) {
        for (int32_t w : wanted) {
            if (code == w) {
                kept.push_back(code);
            }
        }
    }
    return kept;
}

class WindowLayerTest : public testing::Test {
  protected:
    void SetUp() override {
        testing_support::FlushMessages();
        DrainEvents();
    }
    void TearDown() override {
        dovemarl::ui::DestroyTopWindow(-1);
        testing_support::FlushMessages();
        DrainEvents();
    }
};

inline HWND WindowOf(int32_t number) {
    dovemarl::ui::WindowRecord* record = dovemarl::ui::FindWindowRecord(number);
    return record != nullptr ? record->window : nullptr;
}

} // namespace window_testing
