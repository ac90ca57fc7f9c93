#pragma once
// What a lifecycle check process tells the doctor that started it: one line
// per finding, written through to a file at once, so that whatever was found
// before a crash or a hang survives it. Lines start with a kind:
//   step NAME       a step begins (the doctor times each one)
//   figure TEXT     a measurement, shown in the report
//   note TEXT       an observation that is not a fault
//   fault TEXT      a lifecycle fault
//   suspect TEXT    a fault if the process does not live to finish the check
//   crash TEXT      an exception nobody handled (written by the crash filter)
//   done            the check finished
#include <windows.h>

#include <string>

#include "resource_census.h"

namespace standin {

class LifecycleLog {
  public:
    explicit LifecycleLog(const std::string& path);
    ~LifecycleLog();
    LifecycleLog(const LifecycleLog&) = delete;
    LifecycleLog& operator=(const LifecycleLog&) = delete;

    bool Open() const { return file_ != INVALID_HANDLE_VALUE; }
    void Step(const std::string& name) { Line("step", name); }
    void Figure(const std::string& text) { Line("figure", text); }
    void Note(const std::string& text) { Line("note", text); }
    void Fault(const std::string& text) { Line("fault", text); }
    void Suspect(const std::string& text) { Line("suspect", text); }
    void Done() { Line("done", ""); }
    void Line(const char* kind, const std::string& text);

    // From here on, an exception that no handler takes is written as a crash
    // line, placed against the plug-in's image (loaded or unloaded), and ends
    // the process with the exception's code; also after this log is gone,
    // until the process has exited.
    void ReportCrashes(const std::string& pluginName);
    void SetImage(const ImageRange& image, bool unloaded);

  private:
    static LONG WINAPI CrashFilter(EXCEPTION_POINTERS* exception);

    HANDLE file_ = INVALID_HANDLE_VALUE;
    CRITICAL_SECTION lock_;
};

std::string Hex(const void* address);
std::string Hex(uintptr_t value);

} // namespace standin
