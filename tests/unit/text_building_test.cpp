// Building texts in the thread's workspace: decimal conversion, pieces that
// survive the buffer moving, sealing, marks, and the growth rule.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <thread>

#include "runtime/heaps.h"
#include "runtime/text_building.h"
#include "runtime/text_workspace.h"

namespace {

using dovemarl::runtime::AppendDecimal;
using dovemarl::runtime::AppendForeignText;
using dovemarl::runtime::AppendText;
using dovemarl::runtime::CurrentTextWorkspace;
using dovemarl::runtime::TextBase;
using dovemarl::runtime::TextGiveBack;
using dovemarl::runtime::TextMark;
using dovemarl::runtime::TextRelease;
using dovemarl::runtime::TextReserve;
using dovemarl::runtime::TextSeal;
using dovemarl::runtime::TextWorkspace;

constexpr int32_t GrowthMargin = 16384;

std::string TextAt(int32_t mark) {
    return std::string(TextBase() + mark);
}

int32_t Position() {
    return CurrentTextWorkspace()->position;
}

// The workspace is shared by every test on the main thread: each test starts
// its texts at the position it finds and puts the position back afterwards.
class TextBuildingTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(CurrentTextWorkspace(), nullptr);
        start_ = TextMark();
        EXPECT_EQ(start_, Position());
    }
    void TearDown() override {
        TextRelease(start_);
        EXPECT_EQ(Position(), start_) << "workspace position not restored";
    }

    // The decimal text of value, built at the current position and released.
    std::string Decimal(int64_t value) {
        int32_t mark = TextMark();
        AppendDecimal(value);
        std::string text = TextAt(mark);
        EXPECT_EQ(Position(), mark + static_cast<int32_t>(text.size()))
            << "position after " << text << ": only the digits and sign stay used";
        TextRelease(mark);
        return text;
    }

    int32_t start_ = 0;
};

TEST_F(TextBuildingTest, DecimalOf32BitValues) {
    struct Case {
        int64_t value;
        const char* expected;
    };
    const Case cases[] = {
        {0, "0"},
        {1, "1"},
        {-1, "-1"},
        {9, "9"},
        {10, "10"},
        {-10, "-10"},
        {1000000, "1000000"},
        {INT32_MIN, "-2147483648"},
        {INT32_MIN + 1, "-2147483647"},
        {INT32_MAX, "2147483647"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Decimal(c.value), c.expected) << "value " << c.value;
    }
}

TEST_F(TextBuildingTest, HandleAbove2To31WidenedThroughInt32PrintsNegative) {
    // A system handle is 32 bits; stored in an int32_t and widened it is a
    // negative number, and prints as one.
    EXPECT_EQ(Decimal(static_cast<int32_t>(0x80000000u)), "-2147483648");
    EXPECT_EQ(Decimal(static_cast<int32_t>(0xFFFF0010u)), "-65520");
    EXPECT_EQ(Decimal(static_cast<int32_t>(0xFFFFFFFFu)), "-1");
}

TEST_F(TextBuildingTest, DecimalOfValuesOutside32Bits) {
    struct Case {
        int64_t value;
        const char* expected;
    };
    const Case cases[] = {
        {INT64_MIN, "-9223372036854775808"},     {INT64_MAX, "9223372036854775807"},
        {INT64_MIN + 1, "-9223372036854775807"}, {int64_t{1} << 32, "4294967296"},
        {int64_t{1} << 31, "2147483648"},        {-(int64_t{1} << 31) - 1, "-2147483649"},
        {int64_t{0xFFFFFFFF}, "4294967295"},     {-(int64_t{1} << 32), "-4294967296"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Decimal(c.value), c.expected) << "value " << c.value;
    }
}

TEST_F(TextBuildingTest, DecimalJoinsTheTextBeingBuilt) {
    int32_t mark = TextMark();
    AppendText("x=");
    AppendDecimal(-42);
    AppendText(", y=");
    AppendDecimal(int64_t{1} << 40);
    EXPECT_EQ(TextAt(mark), "x=-42, y=1099511627776");
    EXPECT_EQ(Position(), mark + 22);
}

TEST_F(TextBuildingTest, DecimalAtAnEarlierMarkReplacesWhatFollows) {
    int32_t mark = TextMark();
    AppendText("count: ");
    int32_t number = TextMark();
    AppendText("placeholder text");
    AppendDecimal(315, number);
    EXPECT_EQ(TextAt(mark), "count: 315");
    EXPECT_EQ(Position(), number + 3);
}

TEST_F(TextBuildingTest, EarlierPieceSurvivesBufferGrowth) {
    TextWorkspace* workspace = CurrentTextWorkspace();
    int32_t mark = TextMark();
    AppendText("head:");
    AppendDecimal(-7);
    char* bufferBefore = workspace->buffer;
    int32_t capacityBefore = workspace->capacity;
    std::string tail(static_cast<size_t>(capacityBefore) + 100, 't');
    AppendText(tail.c_str());
    EXPECT_GT(workspace->capacity, capacityBefore) << "the long piece should force growth";
    EXPECT_EQ(TextAt(mark), "head:-7" + tail)
        << "buffer was at " << static_cast<void*>(bufferBefore) << ", now "
        << static_cast<void*>(workspace->buffer);
}

TEST_F(TextBuildingTest, SealedTextSurvivesGrowthAndLaterBuilding) {
    TextWorkspace* workspace = CurrentTextWorkspace();
    int32_t first = TextMark();
    AppendText("first text");
    TextSeal();
    int32_t second = TextMark();
    std::string longText(static_cast<size_t>(workspace->capacity) * 2, 'L');
    AppendText(longText.c_str());
    EXPECT_EQ(TextAt(first), "first text");
    EXPECT_EQ(TextAt(second), longText);
}

TEST_F(TextBuildingTest, TextOver16KiBBuildsIntact) {
    int32_t mark = TextMark();
    std::string expected;
    for (int i = 0; i < 4000; ++i) {
        AppendText("0123456789");
        expected += "0123456789";
    }
    ASSERT_EQ(expected.size(), 40000u);
    EXPECT_EQ(Position(), mark + 40000);
    std::string built = TextAt(mark);
    EXPECT_EQ(built.size(), 40000u);
    EXPECT_TRUE(built == expected)
        << "first difference at "
        << std::mismatch(built.begin(), built.end(), expected.begin(), expected.end()).first -
               built.begin();
}

TEST_F(TextBuildingTest, LongTextOfMixedPiecesBuildsIntact) {
    int32_t mark = TextMark();
    std::string expected;
    for (int i = 0; i < 5000; ++i) {
        AppendText("#");
        AppendDecimal(i * 7919 - 1000000);
        expected += '#';
        expected += std::to_string(i * 7919 - 1000000);
    }
    std::string built = TextAt(mark);
    EXPECT_EQ(built.size(), expected.size());
    EXPECT_TRUE(built == expected);
}

TEST_F(TextBuildingTest, TextsOfEveryShortLengthAppendWhole) {
    const std::string source = "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGH";
    for (size_t length = 0; length <= 40; ++length) {
        std::string piece = source.substr(0, length);
        int32_t mark = TextMark();
        AppendText("[");
        AppendText(piece.c_str());
        AppendText("]");
        EXPECT_EQ(TextAt(mark), "[" + piece + "]") << "length " << length;
        EXPECT_EQ(Position(), mark + static_cast<int32_t>(length) + 2) << "length " << length;
        TextRelease(mark);
    }
}

TEST_F(TextBuildingTest, NullAppendsNothingButTerminates) {
    int32_t mark = TextMark();
    AppendText("abc");
    TextGiveBack(3); // "abc" still sits in the buffer past the position
    ASSERT_EQ(Position(), mark);
    ASSERT_EQ(TextBase()[mark], 'a');
    AppendText(nullptr);
    EXPECT_EQ(Position(), mark);
    EXPECT_EQ(TextBase()[mark], '\0') << "a NUL is written at the position";
}

TEST_F(TextBuildingTest, ForeignNullReadsAsEmptyText) {
    int32_t mark = TextMark();
    AppendForeignText(nullptr);
    EXPECT_EQ(TextAt(mark), "");
    EXPECT_EQ(Position(), mark);

    AppendText("to be replaced");
    AppendForeignText(nullptr, mark);
    EXPECT_EQ(TextAt(mark), "") << "null placed at a mark empties the text from there";
    EXPECT_EQ(Position(), mark);
}

TEST_F(TextBuildingTest, ForeignTextAtAMarkReplacesWhatFollows) {
    int32_t mark = TextMark();
    AppendText("keep|");
    int32_t middle = TextMark();
    AppendText("a rather long piece that goes");
    AppendForeignText("short", middle);
    EXPECT_EQ(TextAt(mark), "keep|short");
    EXPECT_EQ(Position(), middle + 5);
}

TEST_F(TextBuildingTest, SealTakesTheNulIntoTheUsedPart) {
    int32_t mark = TextMark();
    AppendText("sealed");
    int32_t end = Position();
    TextSeal();
    EXPECT_EQ(Position(), end + 1);
    EXPECT_EQ(TextBase()[end], '\0');
    int32_t next = TextMark();
    AppendText("next");
    AppendDecimal(99);
    EXPECT_EQ(TextAt(mark), "sealed") << "a later append must not overwrite the sealed text";
    EXPECT_EQ(TextAt(next), "next99");
}

TEST_F(TextBuildingTest, SealOfAnEmptyTextLeavesAnEmptyText) {
    int32_t mark = TextMark();
    AppendText("");
    TextSeal();
    AppendText("after");
    EXPECT_EQ(TextAt(mark), "");
    EXPECT_EQ(TextAt(mark + 1), "after");
}

TEST_F(TextBuildingTest, SealWithNothingBuiltSinceTheMarkIsEmpty) {
    int32_t mark = TextMark();
    AppendText("stale text");
    TextRelease(mark); // the bytes stay behind in the buffer
    TextSeal();
    EXPECT_EQ(TextAt(mark), "");
}

TEST_F(TextBuildingTest, ReleaseRestoresTheMarkedPosition) {
    int32_t outer = TextMark();
    AppendText("outer ");
    int32_t inner = TextMark();
    AppendText("inner text");
    TextSeal();
    TextRelease(inner);
    EXPECT_EQ(Position(), inner);
    AppendText("again");
    EXPECT_EQ(TextAt(outer), "outer again");
    TextRelease(outer);
    EXPECT_EQ(Position(), outer);
}

TEST_F(TextBuildingTest, ReleaseIgnoresMarksOutsideTheUsedPart) {
    AppendText("abc");
    int32_t position = Position();
    TextRelease(position + 10);
    EXPECT_EQ(Position(), position) << "a mark beyond the position is not a mark";
    TextRelease(-5);
    EXPECT_EQ(Position(), position) << "a negative mark is not a mark";
}

TEST_F(TextBuildingTest, MarkAndReleaseKeepTheLastError) {
    SetLastError(1234);
    int32_t mark = TextMark();
    EXPECT_EQ(GetLastError(), 1234u) << "after TextMark";
    AppendText("something");
    SetLastError(1234);
    TextRelease(mark);
    EXPECT_EQ(GetLastError(), 1234u) << "after TextRelease";
}

TEST_F(TextBuildingTest, ReservationThatDoesNotFitGrowsByTheMargin) {
    TextWorkspace* workspace = CurrentTextWorkspace();
    int32_t position = workspace->position;
    int32_t length = workspace->capacity - position; // can never fit with its NUL
    ASSERT_NE(TextReserve(length), nullptr);
    EXPECT_EQ(workspace->capacity, position + length + GrowthMargin);
    EXPECT_EQ(workspace->position, position + length);
    EXPECT_GE(HeapSize(dovemarl::runtime::TextHeap, 0, workspace->buffer),
              static_cast<SIZE_T>(workspace->capacity))
        << "the buffer holds at least the capacity";

    int32_t grown = workspace->capacity;
    ASSERT_NE(TextReserve(100), nullptr);
    EXPECT_EQ(workspace->capacity, grown) << "a reservation that fits keeps the buffer";
}

// Reserves every length from 0 to past the current capacity, each from the
// same position: the byte after the reservation, where its NUL goes, must lie
// inside the allocated buffer. Returns the first failure, or "".
std::string CheckRoomForNul() {
    TextWorkspace* workspace = CurrentTextWorkspace();
    int32_t limit = workspace->capacity - workspace->position + 8;
    for (int32_t length = 0; length <= limit; ++length) {
        int32_t mark = TextMark();
        if (TextReserve(length) == nullptr) {
            return "reservation of " + std::to_string(length) + " refused";
        }
        SIZE_T size = HeapSize(dovemarl::runtime::TextHeap, 0, workspace->buffer);
        int32_t position = workspace->position;
        int32_t capacity = workspace->capacity;
        TextRelease(mark);
        if (size <= static_cast<SIZE_T>(position)) {
            return "length " + std::to_string(length) + ": position " + std::to_string(position) +
                   ", capacity " + std::to_string(capacity) + ", buffer of " +
                   std::to_string(size) + " bytes";
        }
    }
    return "";
}

TEST_F(TextBuildingTest, ReservationAlwaysLeavesRoomForItsNul) {
    EXPECT_EQ(CheckRoomForNul(), "") << "main thread's workspace";
    std::string fresh;
    std::thread([&] { fresh = CheckRoomForNul(); }).join();
    EXPECT_EQ(fresh, "") << "a fresh thread's workspace, before its first growth";
}

TEST_F(TextBuildingTest, ReservationRefusesPlacesBeyondThePosition) {
    int32_t position = Position();
    EXPECT_EQ(TextReserve(4, position + 1), nullptr);
    EXPECT_EQ(TextReserve(-1), nullptr);
    EXPECT_EQ(Position(), position) << "a refused reservation changes nothing";
}

TEST_F(TextBuildingTest, EachThreadBuildsInItsOwnWorkspace) {
    constexpr int Rounds = 2000;
    TextWorkspace* mainWorkspace = CurrentTextWorkspace();
    int32_t mainMark = TextMark();
    AppendText("main thread text");
    TextSeal();

    // Both threads hold their workspaces before either starts building.
    // (A Win32 event rather than std::latch, whose waits can miss a wake-up
    // with this toolchain's threading.)
    volatile LONG arriving = 2;
    HANDLE bothReady = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    TextWorkspace* seen[2] = {};
    int failures[2] = {};
    std::string firstFailure[2];
    auto builder = [&](int index) {
        seen[index] = CurrentTextWorkspace();
        if (InterlockedDecrement(&arriving) == 0) {
            SetEvent(bothReady);
        }
        WaitForSingleObject(bothReady, INFINITE);
        const char* prefix = index == 0 ? "left-" : "right-";
        for (int i = 0; i < Rounds; ++i) {
            int32_t mark = TextMark();
            AppendText(prefix);
            AppendDecimal(i);
            std::string piece(static_cast<size_t>(i % 50), index == 0 ? 'a' : 'b');
            AppendText(piece.c_str());
            std::string expected(prefix);
            expected += std::to_string(i);
            expected += piece;
            std::string built = TextBase() + mark;
            if (built != expected && failures[index]++ == 0) {
                firstFailure[index] = "got " + built + ", expected " + expected;
            }
            if (i % 2 == 0) {
                TextRelease(mark); // odd rounds keep theirs, so the buffer grows
            }
        }
    };
    std::thread left(builder, 0);
    std::thread right(builder, 1);
    left.join();
    right.join();
    CloseHandle(bothReady);

    EXPECT_NE(seen[0], nullptr);
    EXPECT_NE(seen[1], nullptr);
    EXPECT_NE(seen[0], seen[1]);
    EXPECT_NE(seen[0], mainWorkspace);
    EXPECT_NE(seen[1], mainWorkspace);
    EXPECT_EQ(failures[0], 0) << firstFailure[0];
    EXPECT_EQ(failures[1], 0) << firstFailure[1];
    EXPECT_EQ(CurrentTextWorkspace(), mainWorkspace);
    EXPECT_EQ(TextAt(mainMark), "main thread text");
}

} // namespace
