// Text variables: one TextHeap block of length + 5 bytes per non-empty slot,
// assignment from plain and built texts, and freeing a record's text fields.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/heaps.h"
#include "runtime/text_building.h"
#include "runtime/text_variable.h"
#include "runtime/text_workspace.h"

namespace {

using dovemarl::runtime::AppendDecimal;
using dovemarl::runtime::AppendText;
using dovemarl::runtime::AssignBuiltText;
using dovemarl::runtime::AssignText;
using dovemarl::runtime::FreeText;
using dovemarl::runtime::ReleaseTextFields;
using dovemarl::runtime::TextHeap;
using dovemarl::runtime::TextLayoutEnd;
using dovemarl::runtime::TextMark;
using dovemarl::runtime::TextRelease;

SIZE_T BlockSize(const char* block) {
    return HeapSize(TextHeap, 0, const_cast<char*>(block));
}

// Whether block is an allocated block of TextHeap, found by walking the heap
// rather than by touching the block.
bool IsBusyTextBlock(const void* block) {
    bool found = false;
    HeapLock(TextHeap);
    PROCESS_HEAP_ENTRY entry{};
    while (HeapWalk(TextHeap, &entry)) {
        if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0 && entry.lpData == block) {
            found = true;
            break;
        }
    }
    HeapUnlock(TextHeap);
    return found;
}

// A text variable freed when the test ends.
struct Variable {
    char* text = nullptr;
    ~Variable() { AssignText(&text, nullptr); }
};

TEST(TextVariableTest, AssignmentOwnsABlockOfLengthPlus5) {
    Variable v;
    EXPECT_EQ(AssignText(&v.text, "hello"), 6);
    ASSERT_NE(v.text, nullptr);
    EXPECT_STREQ(v.text, "hello");
    EXPECT_EQ(BlockSize(v.text), 10u);
    EXPECT_TRUE(IsBusyTextBlock(v.text));
}

TEST(TextVariableTest, AssignmentCopiesTheText) {
    Variable v;
    char source[] = "original";
    AssignText(&v.text, source);
    EXPECT_NE(v.text, source);
    source[0] = 'X';
    EXPECT_STREQ(v.text, "original");
}

TEST(TextVariableTest, ReassignmentFollowsTheLength) {
    Variable v;
    AssignText(&v.text, "same text");
    EXPECT_EQ(AssignText(&v.text, "same text"), 10);
    EXPECT_STREQ(v.text, "same text");
    EXPECT_EQ(BlockSize(v.text), 14u) << "the same text twice keeps length + 5";

    std::string longer(300, 'q');
    EXPECT_EQ(AssignText(&v.text, longer.c_str()), 301);
    EXPECT_EQ(v.text, longer);
    EXPECT_EQ(BlockSize(v.text), 305u);

    EXPECT_EQ(AssignText(&v.text, "ab"), 3);
    EXPECT_STREQ(v.text, "ab");
    EXPECT_EQ(BlockSize(v.text), 7u) << "a shorter text shrinks the block";
}

TEST(TextVariableTest, EmptyTextStillOwnsABlock) {
    Variable v;
    EXPECT_EQ(AssignText(&v.text, ""), 1);
    ASSERT_NE(v.text, nullptr);
    EXPECT_STREQ(v.text, "");
    EXPECT_EQ(BlockSize(v.text), 5u);
}

TEST(TextVariableTest, NullFreesTheBlockAndEmptiesTheSlot) {
    char* slot = nullptr;
    AssignText(&slot, "to be freed");
    char* block = slot;
    ASSERT_TRUE(IsBusyTextBlock(block));
    EXPECT_EQ(AssignText(&slot, nullptr), 1);
    EXPECT_EQ(slot, nullptr);
    EXPECT_FALSE(IsBusyTextBlock(block)) << "block " << static_cast<void*>(block) << " still busy";

    EXPECT_EQ(AssignText(&slot, nullptr), 1) << "an empty slot stays empty";
    EXPECT_EQ(slot, nullptr);
}

TEST(TextVariableTest, TextFromInsideTheSlotsOwnBlock) {
    Variable v;
    AssignText(&v.text, "abcdefgh");
    EXPECT_EQ(AssignText(&v.text, v.text + 2), 7);
    EXPECT_STREQ(v.text, "cdefgh");
    EXPECT_EQ(BlockSize(v.text), 11u);

    EXPECT_EQ(AssignText(&v.text, v.text), 7) << "the slot's own text";
    EXPECT_STREQ(v.text, "cdefgh");

    EXPECT_EQ(AssignText(&v.text, v.text + 6), 1) << "the slot's own NUL";
    EXPECT_STREQ(v.text, "");
}

TEST(TextVariableTest, TextFromAnotherVariable) {
    Variable a, b;
    AssignText(&a.text, "from a");
    AssignText(&b.text, "b's old text, longer");
    EXPECT_EQ(AssignText(&b.text, a.text), 7);
    EXPECT_STREQ(b.text, "from a");
    EXPECT_STREQ(a.text, "from a");
    EXPECT_NE(a.text, b.text);
}

TEST(TextVariableTest, BuiltTextMovesIntoTheSlotAndReleasesTheWorkspace) {
    Variable v;
    int32_t mark = TextMark();
    AppendText("built ");
    AppendDecimal(-42);
    EXPECT_EQ(AssignBuiltText(&v.text, mark), 10);
    EXPECT_STREQ(v.text, "built -42");
    EXPECT_EQ(BlockSize(v.text), 14u);
    EXPECT_EQ(TextMark(), mark) << "workspace released to the mark";
}

TEST(TextVariableTest, BuiltTextAfterASealedOneTakesOnlyItsOwnPart) {
    Variable v;
    int32_t outer = TextMark();
    AppendText("outer");
    dovemarl::runtime::TextSeal();
    int32_t mark = TextMark();
    AppendText("inner");
    EXPECT_EQ(AssignBuiltText(&v.text, mark), 6);
    EXPECT_STREQ(v.text, "inner");
    EXPECT_EQ(TextMark(), mark);
    EXPECT_STREQ(dovemarl::runtime::TextBase() + outer, "outer");
    TextRelease(outer);
}

TEST(TextVariableTest, EmptyBuiltTextLeavesAnEmptyBlock) {
    Variable v;
    int32_t mark = TextMark();
    EXPECT_EQ(AssignBuiltText(&v.text, mark), 1);
    ASSERT_NE(v.text, nullptr) << "an empty built text still leaves a block";
    EXPECT_STREQ(v.text, "");
    EXPECT_EQ(BlockSize(v.text), 5u);
    EXPECT_EQ(TextMark(), mark);
}

TEST(TextVariableTest, LongBuiltText) {
    Variable v;
    int32_t mark = TextMark();
    std::string expected;
    for (int i = 0; i < 3000; ++i) {
        AppendText("line ");
        AppendDecimal(i);
        AppendText("\r\n");
        expected += "line ";
        expected += std::to_string(i);
        expected += "\r\n";
    }
    EXPECT_EQ(AssignBuiltText(&v.text, mark), static_cast<int32_t>(expected.size() + 1));
    EXPECT_TRUE(v.text == expected);
    EXPECT_EQ(BlockSize(v.text), expected.size() + 5);
    EXPECT_EQ(TextMark(), mark);
}

struct TwoTexts {
    int32_t id;
    char* first;
    int32_t count;
    char* second;
    char* unlisted;
};

TEST(TextVariableTest, ReleaseTextFieldsFreesEachListedField) {
    const int32_t layout[] = {offsetof(TwoTexts, first), offsetof(TwoTexts, second), TextLayoutEnd};
    TwoTexts record{};
    AssignText(&record.first, "first field");
    AssignText(&record.second, "second field");
    AssignText(&record.unlisted, "not in the layout");
    char* first = record.first;
    char* second = record.second;
    ASSERT_TRUE(IsBusyTextBlock(first));
    ASSERT_TRUE(IsBusyTextBlock(second));

    ReleaseTextFields(&record, layout);
    EXPECT_FALSE(IsBusyTextBlock(first)) << "first field still allocated";
    EXPECT_FALSE(IsBusyTextBlock(second)) << "second field still allocated";
    EXPECT_TRUE(IsBusyTextBlock(record.unlisted)) << "a field the layout does not list is kept";
    EXPECT_STREQ(record.unlisted, "not in the layout");
    AssignText(&record.unlisted, nullptr);
}

TEST(TextVariableTest, ReleaseTextFieldsSkipsEmptyFields) {
    const int32_t layout[] = {offsetof(TwoTexts, first), offsetof(TwoTexts, second), TextLayoutEnd};
    TwoTexts record{};
    AssignText(&record.second, "only the second");
    char* second = record.second;
    ReleaseTextFields(&record, layout);
    EXPECT_FALSE(IsBusyTextBlock(second));
    EXPECT_TRUE(HeapValidate(TextHeap, 0, nullptr)) << "heap damaged";

    const int32_t emptyLayout[] = {TextLayoutEnd};
    TwoTexts untouched{};
    AssignText(&untouched.first, "kept");
    ReleaseTextFields(&untouched, emptyLayout);
    EXPECT_TRUE(IsBusyTextBlock(untouched.first));
    AssignText(&untouched.first, nullptr);
}

TEST(TextVariableTest, FreeTextOfNullIsHarmless) {
    FreeText(nullptr);
    EXPECT_TRUE(HeapValidate(TextHeap, 0, nullptr)) << "heap damaged";
}

} // namespace
