#pragma once
// A lock for tests that count handles. A contended std::mutex makes an event
// at its first contention (the threads library does), a handle that stays for
// good: it counts in the next handle check, and it can take the value of a
// handle a test has just closed on purpose. This one spins and makes nothing.
#include <windows.h>

namespace testing_support {

class HandleFreeLock {
  public:
    void lock() {
        while (InterlockedExchange(&held_, 1) != 0) {
            SwitchToThread();
        }
    }
    void unlock() { InterlockedExchange(&held_, 0); }

  private:
    volatile LONG held_ = 0;
};

} // namespace testing_support
