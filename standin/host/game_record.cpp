#include "game_record.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

namespace standin {

namespace {

using dovemarl::GameInfo;

struct HostField {
    const char* name;
    size_t offset;
};

// Every field the host writes; newtitle belongs to the plug-in.
constexpr HostField HostFields[] = {
    {"pid", offsetof(GameInfo, pid)},
    {"winx", offsetof(GameInfo, winx)},
    {"winy", offsetof(GameInfo, winy)},
    {"winwidth", offsetof(GameInfo, winwidth)},
    {"winheight", offsetof(GameInfo, winheight)},
    {"hwnd", offsetof(GameInfo, hwnd)},
    {"title", offsetof(GameInfo, title)},
};

uint32_t FieldValue(const GameInfo& info, size_t offset) {
    uint32_t value = 0;
    std::memcpy(&value, reinterpret_cast<const char*>(&info) + offset, sizeof value);
    return value;
}

} // namespace

void GameRecord::CheckWrites() {
    for (const HostField& field : HostFields) {
        uint32_t bit = 1u << (field.offset / sizeof(uint32_t));
        uint32_t wrote = FieldValue(written_, field.offset);
        uint32_t found = FieldValue(info_, field.offset);
        if (wrote != found && (reported_ & bit) == 0) {
            reported_ |= bit;
            char text[200];
            std::snprintf(text, sizeof text,
                          "%s wrote %s (the host wrote 0x%08x, found 0x%08x); only newtitle is "
                          "the plug-in's",
                          caller_, field.name, wrote, found);
            report_.Fault(text);
        }
    }
}

void GameRecord::Update(HWND game) {
    CheckWrites();
    RECT rect = {};
    GetWindowRect(game, &rect);
    DWORD pid = 0;
    GetWindowThreadProcessId(game, &pid);
    int next = 1 - current_;
    GetWindowTextA(game, titles_[next], TitleCapacity);
    if (info_.title == nullptr || std::strcmp(titles_[next], info_.title) != 0) {
        info_.title = titles_[next];
        current_ = next;
    }
    info_.pid = static_cast<int32_t>(pid);
    info_.winx = rect.left;
    info_.winy = rect.top;
    info_.winwidth = rect.right - rect.left;
    info_.winheight = rect.bottom - rect.top;
    info_.hwnd = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(game));

    std::lock_guard lock(mutex_);
    written_ = info_;
    writtenTitle_ = info_.title;
}

GameRecord::Snapshot GameRecord::Written() {
    std::lock_guard lock(mutex_);
    return {written_, writtenTitle_};
}

} // namespace standin
