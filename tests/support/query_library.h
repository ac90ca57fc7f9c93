#pragma once
// Puts one variant of the query library doubles on the DLL search path (or
// none), and reads the calls they logged.
#include <windows.h>

#include <string>
#include <vector>

#include "doubles/query_log.h"

namespace testing_support {

enum class QueryLibrary { Full, Partial, Absent };

class QueryLibraryDouble {
  public:
    explicit QueryLibraryDouble(QueryLibrary variant);
    // A double in ..\doubles\<folder>\, seen from the tests.
    explicit QueryLibraryDouble(const char* folder);
    ~QueryLibraryDouble();
    QueryLibraryDouble(const QueryLibraryDouble&) = delete;
    QueryLibraryDouble& operator=(const QueryLibraryDouble&) = delete;

    long Loads() const { return log_->loads; }
    long Frees() const { return log_->frees; }
    // The names of the functions called, in order, and their arguments.
    std::vector<std::string> CalledNames() const;
    std::vector<uint32_t> CalledArguments() const;
    void Clear();

  private:
    void OpenLog();
    HANDLE mapping_ = nullptr;
    query_double::Log* log_ = nullptr;
};

} // namespace testing_support
