#pragma once
// The DLLs the loader maps and unmaps while a recorder is on, as the loader
// itself reports them (LdrRegisterDllNotification): also a DLL that an entry
// point loads and frees again before the load returns, which no module list
// taken afterwards shows.
#include <string>
#include <vector>

namespace standin {

struct LoadNotice {
    bool loaded = false; // else unloaded
    std::string name;    // file name alone
    std::string path;
};

// One recorder at a time: the loader's callback has nothing but module-wide
// state to write to.
class LoadRecorder {
  public:
    LoadRecorder();
    ~LoadRecorder();
    LoadRecorder(const LoadRecorder&) = delete;
    LoadRecorder& operator=(const LoadRecorder&) = delete;

    // False when the system has no such notifications.
    bool On() const { return cookie_ != nullptr; }
    void Stop();
    // What the thread that made the recorder loaded and unloaded.
    std::vector<LoadNotice> Notices() const;

  private:
    void* cookie_ = nullptr;
    unsigned long thread_;
};

// The DLLs of notices that were loaded and unloaded again, in load order.
std::vector<LoadNotice> LoadedAndUnloaded(const std::vector<LoadNotice>& notices);

} // namespace standin
