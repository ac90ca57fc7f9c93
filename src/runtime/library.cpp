#include "runtime/library.h"

#include "runtime/foreign_call.h"

namespace dovemarl::runtime {

ObjectTable* LibraryTable = nullptr;

namespace {
constexpr int32_t LibrarySlots = 16;
} // namespace

void StartLibraryService() {
    LibraryTable = MakeObjectTable(sizeof(LibraryRecord), LibrarySlots, DetachLibrary);
}

void StopLibraryService() {
    ReleaseAllRecords(LibraryTable);
    RetireObjectTable(LibraryTable);
}

int32_t AttachLibrary(int32_t number, const char* fileName) {
    auto* record = static_cast<LibraryRecord*>(ObtainRecord(LibraryTable, number));
    if (record == nullptr) {
        return 0;
    }
    HMODULE module = fileName != nullptr ? LoadLibraryA(fileName) : nullptr;
    if (module == nullptr) {
        // No live object for a failed load: a handle record is not kept.
        if (number == AnyNumber) {
            GiveBackRecord(LibraryTable, HandleOf(record));
        }
        return 0;
    }
    record->module = module;
    return number == AnyNumber ? HandleOf(record)
                               : static_cast<int32_t>(reinterpret_cast<uintptr_t>(module));
}

void* LibraryProc(int32_t library, const char* name) {
    if (name == nullptr) {
        return nullptr;
    }
    auto* record = static_cast<LibraryRecord*>(FindRecord(LibraryTable, library));
    if (record == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<void*>(GetProcAddress(record->module, name));
}

int32_t CallLibraryProc(int32_t library, const char* name, int32_t argument) {
    void* proc = LibraryProc(library, name);
    if (proc == nullptr) {
        return 0;
    }
    return CallForeign(proc, argument);
}

void DetachLibrary(int32_t library) {
    if (library == AnyNumber) {
        ReleaseAllRecords(LibraryTable);
        return;
    }
    auto* record = static_cast<LibraryRecord*>(FindRecord(LibraryTable, library));
    if (record == nullptr) {
        return;
    }
    FreeLibrary(record->module);
    GiveBackRecord(LibraryTable, library);
}

} // namespace dovemarl::runtime
