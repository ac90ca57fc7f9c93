#pragma once
// The game stand-in: a top-level window titled like the game client. Its
// procedure keeps the host's record current whenever the window moves, is
// resized or retitled, and, while an export runs, applies the title the
// plug-in proposes through newtitle. Everything happens on the thread that
// created the window (the host's UI thread), which the plug-in's own loops
// keep serving while pluginrun runs.
#include <windows.h>

#include <string>

#include "game_record.h"

namespace standin {

inline constexpr char GameTitle[] = "Tidewarden";

class GameWindow {
  public:
    explicit GameWindow(GameRecord& record);
    ~GameWindow();
    GameWindow(const GameWindow&) = delete;
    GameWindow& operator=(const GameWindow&) = delete;

    HWND Handle() const { return window_; }

    // While watching, a timer checks the record for the plug-in's writes and
    // applies a new proposed title at once.
    void StartWatching();
    void StopWatching();

    // Retitles the window with the record's newtitle if that names a
    // readable text not applied yet.
    void ApplyProposal();

    // Asks the UI thread to move, resize and retitle the window. Posted, so
    // the calling thread never waits for the UI thread.
    void RequestPlacement(const RECT& rect, const std::string& title);

    // True while an export runs: closing the game window then only ends the
    // plug-in's loop (which takes the close request) and keeps the window.
    bool busy = false;

  private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void Place();

    GameRecord& record_;
    HWND window_ = nullptr;
    const char* appliedAddress_ = nullptr;
    std::string appliedText_;
    CRITICAL_SECTION placementLock_;
    RECT placement_ = {};
    std::string placementTitle_;
};

} // namespace standin
