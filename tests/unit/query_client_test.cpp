// The query library client: which functions it calls, in which order, with
// which argument, and what a missing library or function gives.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/query_client.h"
#include "runtime/library.h"
#include "support/query_library.h"

namespace {

using dovemarl::host::GameInfo;
using dovemarl::host::GameInfoTextLayout;
using namespace dovemarl::host;
using testing_support::QueryLibrary;
using testing_support::QueryLibraryDouble;

const std::vector<std::string> QueryOrder = {"getgamewinx",      "getgamewiny", "getgamewinwidth",
                                             "getgamewinheight", "getgamehwnd", "getgamepid",
                                             "getgametitle"};

struct Answers {
    GameInfo record = {};
    ~Answers() { dovemarl::runtime::ReleaseTextFields(&record, GameInfoTextLayout); }
};

void Query(GameInfo* host, Answers& answers) {
    int32_t library = OpenQueryLibrary();
    QueryGameInfo(library, host, &answers.record);
    CloseQueryLibrary(library);
}

TEST(QueryClient, AsksAllSevenInOrderWithTheHostRecord) {
    QueryLibraryDouble queries(QueryLibrary::Full);
    GameInfo host = {};
    host.title = "host title";
    Answers answers;
    Query(&host, answers);

    EXPECT_EQ(queries.CalledNames(), QueryOrder);
    for (uint32_t argument : queries.CalledArguments()) {
        EXPECT_EQ(argument, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&host)))
            << "each query gets the host's record";
    }
    EXPECT_EQ(answers.record.pid, query_double::Pid);
    EXPECT_EQ(answers.record.winx, query_double::WinX);
    EXPECT_EQ(answers.record.winy, query_double::WinY);
    EXPECT_EQ(answers.record.winwidth, query_double::WinWidth);
    EXPECT_EQ(answers.record.winheight, query_double::WinHeight);
    EXPECT_EQ(answers.record.hwnd, query_double::Hwnd);
    ASSERT_NE(answers.record.title, nullptr);
    EXPECT_STREQ(answers.record.title, query_double::Title);
    EXPECT_NE(answers.record.title, query_double::Title) << "a copy, not the library's address";
    EXPECT_EQ(answers.record.newtitle, nullptr);
    EXPECT_EQ(queries.Loads(), 1);
    EXPECT_EQ(queries.Frees(), 1) << "the library is freed when closed";
    EXPECT_EQ(GetModuleHandleA("sableroot.dll"), nullptr);
}

TEST(QueryClient, MissingFunctionsAnswerZeroAndNullTitleReadsEmpty) {
    QueryLibraryDouble queries(QueryLibrary::Partial);
    GameInfo host = {};
    Answers answers;
    Query(&host, answers);
    EXPECT_EQ(queries.CalledNames(), (std::vector<std::string>{"getgamewinx", "getgamewinheight",
                                                               "getgamepid", "getgametitle"}));
    EXPECT_EQ(answers.record.winx, query_double::WinX);
    EXPECT_EQ(answers.record.winy, 0);
    EXPECT_EQ(answers.record.winwidth, 0);
    EXPECT_EQ(answers.record.winheight, query_double::WinHeight);
    EXPECT_EQ(answers.record.hwnd, 0u);
    EXPECT_EQ(answers.record.pid, query_double::Pid);
    ASSERT_NE(answers.record.title, nullptr);
    EXPECT_STREQ(answers.record.title, "");
}

TEST(QueryClient, AbsentLibraryGivesZerosAndEmptyTitle) {
    QueryLibraryDouble queries(QueryLibrary::Absent);
    int32_t library = OpenQueryLibrary();
    EXPECT_EQ(library, 0);
    GameInfo host = {};
    Answers answers;
    QueryGameInfo(library, &host, &answers.record);
    CloseQueryLibrary(library);
    EXPECT_EQ(queries.Loads(), 0);
    EXPECT_EQ(answers.record.pid, 0);
    EXPECT_EQ(answers.record.winx, 0);
    EXPECT_EQ(answers.record.hwnd, 0u);
    ASSERT_NE(answers.record.title, nullptr);
    EXPECT_STREQ(answers.record.title, "");
}

} // namespace
