#include "pictures.h"

#include <objidl.h>

#include <gdiplus.h>

#include <cstdio>
#include <filesystem>
#include <vector>

namespace standin {

namespace {

bool FindPngEncoder(CLSID& clsid) {
    UINT count = 0;
    UINT bytes = 0;
    if (Gdiplus::GetImageEncodersSize(&count, &bytes) != Gdiplus::Ok || bytes == 0) {
        return false;
    }
    std::vector<char> buffer(bytes);
    auto* encoders = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
    if (Gdiplus::GetImageEncoders(count, bytes, encoders) != Gdiplus::Ok) {
        return false;
    }
    for (UINT i = 0; i < count; ++i) {
        if (std::wstring(encoders[i].MimeType) == L"image/png") {
            clsid = encoders[i].Clsid;
            return true;
        }
    }
    return false;
}

// A copy of what the screen shows where the window is; the caller deletes it.
HBITMAP CopyFromScreen(HWND window) {
    RECT rect = {};
    if (!GetWindowRect(window, &rect)) {
        return nullptr;
    }
    int width = rect.right - rect.left;
    int height = rect.bottom - rect.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    SelectObject(memory, old);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return bitmap;
}

} // namespace

Pictures::Pictures(std::string folder) : folder_(std::move(folder)) {
    std::error_code ignored;
    std::filesystem::create_directories(folder_, ignored);
    Gdiplus::GdiplusStartupInput input;
    started_ = Gdiplus::GdiplusStartup(&token_, &input, nullptr) == Gdiplus::Ok;
    havePng_ = started_ && FindPngEncoder(png_);
}

Pictures::~Pictures() {
    if (started_) {
        Gdiplus::GdiplusShutdown(token_);
    }
}

bool Pictures::Save(HWND window, const std::string& name) {
    std::filesystem::path file = std::filesystem::path(folder_) / (name + ".png");
    std::string path = file.string();
    bool saved = false;
    if (havePng_) {
        if (HBITMAP bitmap = CopyFromScreen(window)) {
            {
                Gdiplus::Bitmap picture(bitmap, nullptr);
                saved = picture.Save(file.wstring().c_str(), &png_, nullptr) == Gdiplus::Ok;
            }
            DeleteObject(bitmap);
        }
    }
    std::printf(saved ? "[picture] %s\n" : "[picture] could not save %s\n", path.c_str());
    std::fflush(stdout);
    return saved;
}

} // namespace standin
