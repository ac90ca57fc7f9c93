#pragma once
// The host's GameInfo record: filled from the game window, kept current as
// the window changes, and watched for writes by the plug-in to any field but
// newtitle. Written only on the host's UI thread; other threads read what the
// host last wrote through Written().
#include <windows.h>

#include <cstdint>
#include <mutex>
#include <string>

#include "contract_report.h"
#include "dovemarl/plugin_contract.h"

namespace standin {

inline constexpr int TitleCapacity = 256;

class GameRecord {
  public:
    explicit GameRecord(ContractReport& report) : report_(report) {}
    GameRecord(const GameRecord&) = delete;
    GameRecord& operator=(const GameRecord&) = delete;

    // The record the plug-in gets; it stays at this address.
    dovemarl::GameInfo* Record() { return &info_; }

    // Names the export now running, for reports of its writes.
    void SetCaller(const char* name) { caller_ = name; }

    // Checks for writes by the plug-in, then fills the record afresh from the
    // game window (position, size, title, process and handle).
    void Update(HWND game);

    // Reports each field other than newtitle whose value is no longer what
    // the host wrote (each field once).
    void CheckWrites();

    struct Snapshot {
        dovemarl::GameInfo info = {};
        std::string title;
    };
    Snapshot Written();

  private:
    ContractReport& report_;
    const char* caller_ = "the plug-in";
    dovemarl::GameInfo info_ = {};
    // The title lives in one of two buffers: a new title goes into the other
    // one before the record points at it, so the text the record names is
    // never rewritten in place.
    char titles_[2][TitleCapacity] = {};
    int current_ = 0;
    std::mutex mutex_; // guards written_ for Written()
    dovemarl::GameInfo written_ = {};
    std::string writtenTitle_;
    uint32_t reported_ = 0; // one bit per field offset / 4
};

} // namespace standin
