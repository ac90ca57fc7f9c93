#include "load_notifications.h"

#include <windows.h>

#include <algorithm>

namespace standin {

namespace {

constexpr ULONG LoadedReason = 1; // LDR_DLL_NOTIFICATION_REASON_LOADED
constexpr size_t NoticeCapacity = 256;
constexpr size_t PathCapacity = MAX_PATH;

struct CountedText {
    USHORT bytes;
    USHORT capacity;
    const wchar_t* text;
};

struct NotificationData {
    ULONG flags;
    const CountedText* fullName;
    const CountedText* baseName;
    void* base;
    ULONG size;
};

using Notification = void(CALLBACK*)(ULONG reason, const NotificationData* data, void* context);
using Register = LONG(NTAPI*)(ULONG flags, Notification function, void* context, void** cookie);
using Unregister = LONG(NTAPI*)(void* cookie);

// Filled under the loader lock: plain records, nothing allocated.
struct RawNotice {
    DWORD thread; // that loaded or unloaded
    bool loaded;
    char name[PathCapacity];
    char path[PathCapacity];
};
RawNotice Raw[NoticeCapacity];
volatile LONG RawCount = 0;

void CopyText(const CountedText* from, char* to) {
    size_t length = from == nullptr ? 0 : std::min<size_t>(from->bytes / 2, PathCapacity - 1);
    for (size_t i = 0; i < length; ++i) {
        to[i] = static_cast<char>(from->text[i] < 0x80 ? from->text[i] : '?');
    }
    to[length] = '\0';
}

void CALLBACK Record(ULONG reason, const NotificationData* data, void*) {
    LONG index = InterlockedIncrement(&RawCount) - 1;
    if (index >= static_cast<LONG>(NoticeCapacity)) {
        return;
    }
    Raw[index].thread = GetCurrentThreadId();
    Raw[index].loaded = reason == LoadedReason;
    CopyText(data->baseName, Raw[index].name);
    CopyText(data->fullName, Raw[index].path);
}

FARPROC Ntdll(const char* name) {
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), name);
}

} // namespace

LoadRecorder::LoadRecorder() : thread_(GetCurrentThreadId()) {
    auto enroll =
        reinterpret_cast<Register>(reinterpret_cast<void*>(Ntdll("LdrRegisterDllNotification")));
    InterlockedExchange(&RawCount, 0);
    if (enroll == nullptr || enroll(0, Record, nullptr, &cookie_) != 0) {
        cookie_ = nullptr;
    }
}

LoadRecorder::~LoadRecorder() {
    Stop();
}

void LoadRecorder::Stop() {
    auto withdraw = reinterpret_cast<Unregister>(
        reinterpret_cast<void*>(Ntdll("LdrUnregisterDllNotification")));
    if (cookie_ != nullptr && withdraw != nullptr) {
        withdraw(cookie_);
    }
    cookie_ = nullptr;
}

std::vector<LoadNotice> LoadRecorder::Notices() const {
    std::vector<LoadNotice> notices;
    LONG count = std::min<LONG>(LONG{RawCount}, static_cast<LONG>(NoticeCapacity));
    for (LONG i = 0; i < count; ++i) {
        if (Raw[i].thread == thread_) {
            notices.push_back({Raw[i].loaded, Raw[i].name, Raw[i].path});
        }
    }
    return notices;
}

std::vector<LoadNotice> LoadedAndUnloaded(const std::vector<LoadNotice>& notices) {
    std::vector<LoadNotice> both;
    for (size_t i = 0; i < notices.size(); ++i) {
        if (!notices[i].loaded) {
            continue;
        }
        for (size_t j = i + 1; j < notices.size(); ++j) {
            if (!notices[j].loaded &&
                lstrcmpiA(notices[j].path.c_str(), notices[i].path.c_str()) == 0) {
                both.push_back(notices[i]);
                break;
            }
        }
    }
    return both;
}

} // namespace standin
