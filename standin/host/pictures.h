#pragma once
// Saves pictures of windows as PNG files, through GDI+: the window's screen
// rectangle is copied from the screen into a bitmap and encoded.
#include <windows.h>

#include <cstdint>
#include <string>

namespace standin {

class Pictures {
  public:
    // Pictures go into folder, which is made if missing.
    explicit Pictures(std::string folder);
    ~Pictures();
    Pictures(const Pictures&) = delete;
    Pictures& operator=(const Pictures&) = delete;

    // Saves folder/name.png; prints and returns false when that fails.
    bool Save(HWND window, const std::string& name);

  private:
    std::string folder_;
    ULONG_PTR token_ = 0;
    bool started_ = false;
    CLSID png_ = {};
    bool havePng_ = false;
};

} // namespace standin
