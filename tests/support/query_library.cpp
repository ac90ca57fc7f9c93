#include "support/query_library.h"

#include <cstring>

namespace testing_support {

namespace {

// The doubles live in ..\doubles\<variant>\sableroot.dll, seen from the tests.
std::string DoubleFolder(const char* variant) {
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    folder.erase(folder.find_last_of('\\'));
    folder.erase(folder.find_last_of('\\') + 1);
    return folder + "doubles\\" + variant;
}

} // namespace

QueryLibraryDouble::QueryLibraryDouble(QueryLibrary variant) {
    OpenLog();
    switch (variant) {
    case QueryLibrary::Full:
        SetDllDirectoryA(DoubleFolder("full").c_str());
        break;
    case QueryLibrary::Partial:
        SetDllDirectoryA(DoubleFolder("partial").c_str());
        break;
    case QueryLibrary::Absent:
        SetDllDirectoryA(nullptr);
        break;
    }
}

QueryLibraryDouble::QueryLibraryDouble(const char* folder) {
    OpenLog();
    SetDllDirectoryA(DoubleFolder(folder).c_str());
}

void QueryLibraryDouble::OpenLog() {
    mapping_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                  sizeof(query_double::Log), query_double::LogName);
    log_ = static_cast<query_double::Log*>(
        MapViewOfFile(mapping_, FILE_MAP_WRITE, 0, 0, sizeof(query_double::Log)));
    Clear();
}

QueryLibraryDouble::~QueryLibraryDouble() {
    SetDllDirectoryA(nullptr);
    UnmapViewOfFile(log_);
    CloseHandle(mapping_);
}

void QueryLibraryDouble::Clear() {
    std::memset(log_, 0, sizeof *log_);
}

std::vector<std::string> QueryLibraryDouble::CalledNames() const {
    std::vector<std::string> names;
    for (long i = 0; i < log_->calls && i < query_double::MaxCalls; ++i) {
        names.emplace_back(log_->entries[i].name);
    }
    return names;
}

std::vector<uint32_t> QueryLibraryDouble::CalledArguments() const {
    std::vector<uint32_t> arguments;
    for (long i = 0; i < log_->calls && i < query_double::MaxCalls; ++i) {
        arguments.push_back(log_->entries[i].argument);
    }
    return arguments;
}

} // namespace testing_support
