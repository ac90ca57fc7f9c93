#include "window_classes.h"

namespace standin {

namespace {

// The hook procedure has no argument of its own; one hook at a time.
WindowClasses* Hooked = nullptr;

// Names registered by RegisterClass, RegisterWindowMessage and
// RegisterClipboardFormat are atoms in this range; GetClipboardFormatName
// reads the name of any of them.
constexpr UINT FirstNameAtom = 0xC000;
constexpr UINT LastNameAtom = 0xFFFF;
constexpr int NameCapacity = 256;

// An instance that is no module's: a class found for it is a global one,
// which answers for every instance. Wine matches a local class's instance by
// its 64 KB granule only, so an address inside any image would pass for that
// image; a reservation of its own never shares a granule with a module.
HINSTANCE NoInstance() {
    static void* const reserved = VirtualAlloc(nullptr, 1, MEM_RESERVE, PAGE_NOACCESS);
    return static_cast<HINSTANCE>(reserved);
}

} // namespace

void WindowClasses::HookThisThread() {
    Hooked = this;
    hook_ = SetWindowsHookExA(WH_CBT, Hook, nullptr, GetCurrentThreadId());
}

void WindowClasses::StopHook() {
    if (hook_ != nullptr) {
        UnhookWindowsHookEx(hook_);
        hook_ = nullptr;
    }
    if (Hooked == this) {
        Hooked = nullptr;
    }
}

LRESULT CALLBACK WindowClasses::Hook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND && Hooked != nullptr) {
        ++Hooked->made_;
        auto window = reinterpret_cast<HWND>(wParam);
        WindowEntry entry;
        char name[256] = "";
        GetClassNameA(window, name, sizeof name);
        entry.className = name;
        entry.classInstance = reinterpret_cast<HINSTANCE>(GetClassLongPtrA(window, GCLP_HMODULE));
        entry.classProcedure = reinterpret_cast<const void*>(
            IsWindowUnicode(window) ? GetClassLongPtrW(window, GCLP_WNDPROC)
                                    : GetClassLongPtrA(window, GCLP_WNDPROC));
        Hooked->Learn(entry);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void WindowClasses::Survey() {
    for (const WindowEntry& window : Windows()) {
        Learn(window);
    }
}

void WindowClasses::Learn(const WindowEntry& window) {
    if (window.className.empty()) {
        return;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    for (const SeenClass& seen : seen_) {
        if (seen.name == window.className && seen.instance == window.classInstance) {
            return;
        }
    }
    seen_.push_back({window.className, window.classInstance, window.classProcedure});
}

void WindowClasses::LearnFromAtoms(HINSTANCE instance) {
    HINSTANCE none = NoInstance();
    for (UINT atom = FirstNameAtom; atom <= LastNameAtom; ++atom) {
        char name[256] = "";
        if (GetClipboardFormatNameA(atom, name, sizeof name) == 0) {
            continue;
        }
        WNDCLASSEXA info = {};
        info.cbSize = sizeof info;
        if (!GetClassInfoExA(instance, name, &info) || GetClassInfoExA(none, name, &info)) {
            continue;
        }
        GetClassInfoExA(instance, name, &info);
        WindowEntry entry;
        entry.className = name;
        entry.classInstance = instance;
        entry.classProcedure = reinterpret_cast<const void*>(info.lpfnWndProc);
        Learn(entry);
    }
}

// A class answers with its procedure in its own character set and with a
// translating stub, which is no code of any module, in the other: of the two
// answers, the one that lies in the image or in a module is the procedure.
const void* WindowClasses::Procedure(const SeenClass& cls, const void* answerA) const {
    if (image_.Contains(answerA) || !ModulePathAt(answerA).empty()) {
        return answerA;
    }
    WNDCLASSEXW info = {};
    info.cbSize = sizeof info;
    wchar_t name[NameCapacity] = L"";
    if (MultiByteToWideChar(CP_ACP, 0, cls.name.c_str(), -1, name, NameCapacity) == 0 ||
        !GetClassInfoExW(cls.instance, name, &info)) {
        return answerA;
    }
    auto* answerW = reinterpret_cast<const void*>(info.lpfnWndProc);
    return image_.Contains(answerW) || !ModulePathAt(answerW).empty() ? answerW : answerA;
}

bool WindowClasses::Ours(const SeenClass& cls) const {
    return reinterpret_cast<const char*>(cls.instance) == image_.base ||
           image_.Contains(cls.procedure);
}

size_t WindowClasses::Known() {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t count = 0;
    for (const SeenClass& cls : seen_) {
        count += Ours(cls) ? 1 : 0;
    }
    return count;
}

std::vector<LeftClass> WindowClasses::StillRegistered() {
    std::vector<SeenClass> seen;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        seen = seen_;
    }
    std::vector<LeftClass> left;
    for (const SeenClass& cls : seen) {
        if (!Ours(cls)) {
            continue;
        }
        WNDCLASSEXA info = {};
        info.cbSize = sizeof info;
        if (GetClassInfoExA(cls.instance, cls.name.c_str(), &info)) {
            const void* procedure = Procedure(cls, reinterpret_cast<const void*>(info.lpfnWndProc));
            left.push_back({cls.name, cls.instance, procedure, image_.Contains(procedure)});
        }
    }
    return left;
}

} // namespace standin
