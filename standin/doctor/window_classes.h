#pragma once
// The window classes a plug-in may leave registered. The system cannot list
// registered classes, so they are learned from the windows seen (a hook on
// the calling thread sees every window made there, also one destroyed again
// before anyone could enumerate it, and enumerations add the windows of
// other threads) and from the names in the atom table, where each class name
// is an atom: a class registered under the plug-in's instance is found there
// even when no window of it was ever made. A class counts as the plug-in's
// when it was registered under the plug-in's instance or its procedure lay
// in the plug-in's image.
#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#include "resource_census.h"

namespace standin {

struct SeenClass {
    std::string name;
    HINSTANCE instance = nullptr;
    const void* procedure = nullptr;
};

struct LeftClass {
    std::string name;
    HINSTANCE instance = nullptr;
    const void* procedure = nullptr;
    bool procedureInImage = false;
};

class WindowClasses {
  public:
    WindowClasses() = default;
    ~WindowClasses() { StopHook(); }
    WindowClasses(const WindowClasses&) = delete;
    WindowClasses& operator=(const WindowClasses&) = delete;

    // The plug-in's image; classes seen before it is known are kept and
    // judged against it later.
    void SetImage(const ImageRange& image) { image_ = image; }

    // Learns the classes of windows made on this thread until StopHook.
    void HookThisThread();
    void StopHook();
    // Learns the classes of the windows that exist now.
    void Survey();
    void Learn(const WindowEntry& window);
    // Learns the classes registered now under instance (global classes,
    // which answer for any instance, excepted) from the names of the atoms.
    void LearnFromAtoms(HINSTANCE instance);

    // The plug-in's classes still registered now (after the unload).
    std::vector<LeftClass> StillRegistered();
    size_t Known();
    // Windows made on the hooked thread while hooked.
    int WindowsMade() const { return made_; }

  private:
    bool Ours(const SeenClass& cls) const;
    const void* Procedure(const SeenClass& cls, const void* answerA) const;
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam);

    ImageRange image_;
    std::mutex mutex_;
    std::vector<SeenClass> seen_;
    HHOOK hook_ = nullptr;
    int made_ = 0;
};

} // namespace standin
