#pragma once
// Finds the message boxes this process shows, records what each one says and
// dismisses it, from a thread of its own. The stand-in host's automatic mode
// answers the plug-in's boxes with it, and the tests check boxes with it.
#include <windows.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace standin {

struct SeenBox {
    HWND box = nullptr;
    DWORD threadId = 0;
    std::string title;
    std::string text;
    HICON icon = nullptr; // the icon the box shows, null for none
    HWND owner = nullptr;
};

class BoxWatcher {
  public:
    // onBox runs on the watcher's thread while the box is still up, before it
    // is dismissed; it may inspect the windows the box suspended.
    using OnBox = std::function<void(const SeenBox&)>;

    explicit BoxWatcher(OnBox onBox = {});
    ~BoxWatcher();
    BoxWatcher(const BoxWatcher&) = delete;
    BoxWatcher& operator=(const BoxWatcher&) = delete;

    // While false, boxes are recorded (and onBox called) but left up.
    void SetDismissing(bool dismiss);
    std::vector<SeenBox> Seen();
    // Waits until at least count boxes have been seen; false on time-out.
    bool WaitForBoxes(size_t count, DWORD timeoutMs);
    static void Dismiss(HWND box);

  private:
    static DWORD WINAPI Run(void* self);
    void Poll();

    OnBox onBox_;
    HANDLE thread_ = nullptr;
    HANDLE stop_ = nullptr;
    std::mutex mutex_;
    std::vector<SeenBox> seen_;
    std::vector<HWND> handled_;
    volatile LONG dismissing_ = 1;
};

} // namespace standin
