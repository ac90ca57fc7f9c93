#pragma once
// The automatic check of the plug-in's monitor window, on a thread of its
// own while pluginrun runs: waits for the window, checks that its seven
// labels show the record, moves, resizes and retitles the game window,
// checks that the labels follow, takes pictures before and after, and closes
// the monitor window, which ends pluginrun.
#include <windows.h>

#include <string>

#include "game_record.h"
#include "game_window.h"
#include "pictures.h"

namespace standin {

inline constexpr char MonitorTitle[] = "Dovemarl Window Test";

struct MonitorResult {
    enum class State { Passed, NoMonitor, Failed };
    State state = State::NoMonitor;
    std::string problem;
    DWORD appearedAfterMs = 0; // from the start of pluginrun
    DWORD followedInMs = 0;    // from the move request to labels that show it
};

class MonitorCheck {
  public:
    MonitorCheck(GameWindow& game, GameRecord& record, Pictures& pictures);
    ~MonitorCheck();
    MonitorCheck(const MonitorCheck&) = delete;
    MonitorCheck& operator=(const MonitorCheck&) = delete;

    // Just before pluginrun is called: starts the checking thread.
    void RunStarting();
    // Just after pluginrun has returned.
    void RunReturned();
    // Waits for the checking thread and returns what it found.
    MonitorResult Finish();

  private:
    static DWORD WINAPI Thread(void* self);
    void Run();
    bool WaitForReturn(DWORD timeoutMs);
    [[noreturn]] void GiveUp(const char* why);

    GameWindow& game_;
    GameRecord& record_;
    Pictures& pictures_;
    HANDLE returned_ = nullptr;
    HANDLE thread_ = nullptr;
    DWORD started_ = 0;
    MonitorResult result_;
};

} // namespace standin
