// Object tables: slot numbers and handles, finding live records, giving them
// back, slot growth, and closing everything in a fixed order.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <set>
#include <vector>

#include "runtime/heaps.h"
#include "runtime/object_table.h"

namespace {

using dovemarl::runtime::AnyNumber;
using dovemarl::runtime::FindRecord;
using dovemarl::runtime::GiveBackRecord;
using dovemarl::runtime::HandleElement;
using dovemarl::runtime::HandleOf;
using dovemarl::runtime::MakeObjectTable;
using dovemarl::runtime::ObjectTable;
using dovemarl::runtime::ObtainRecord;
using dovemarl::runtime::ReleaseAllRecords;
using dovemarl::runtime::RetireObjectTable;

struct TestRecord {
    uint32_t system; // the object's system handle: 0 means no live object
    int32_t payload;
    int32_t more[4];
};

constexpr int32_t GrowthStep = 16;

// What the release operation saw: the values it was called with, and whether
// each still named a live record at the time.
struct ReleaseLog {
    ObjectTable* table = nullptr;
    bool giveBack = true;
    std::vector<int32_t> values;
    std::vector<bool> liveAtCall;
};
ReleaseLog Log;

// Behaves like a service's release operation: closes the object only when the
// value names a live one, and then gives its record back.
void RecordRelease(int32_t value) {
    bool live = FindRecord(Log.table, value) != nullptr;
    Log.values.push_back(value);
    Log.liveAtCall.push_back(live);
    if (live && Log.giveBack) {
        GiveBackRecord(Log.table, value);
    }
}

bool IsBusyMainBlock(const void* block) {
    bool found = false;
    HeapLock(dovemarl::runtime::MainHeap);
    PROCESS_HEAP_ENTRY entry{};
    while (HeapWalk(dovemarl::runtime::MainHeap, &entry)) {
        if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0 && entry.lpData == block) {
            found = true;
            break;
        }
    }
    HeapUnlock(dovemarl::runtime::MainHeap);
    return found;
}

class ObjectTableTest : public testing::Test {
  protected:
    void SetUp() override {
        table_ = MakeObjectTable(sizeof(TestRecord), GrowthStep, RecordRelease);
        ASSERT_NE(table_, nullptr);
        Log = ReleaseLog{};
        Log.table = table_;
    }
    void TearDown() override {
        RetireObjectTable(table_);
        Log = ReleaseLog{};
    }

    // A record made for number and marked live with the given system handle.
    TestRecord* Live(int32_t number, uint32_t system = 0x1000) {
        auto* record = static_cast<TestRecord*>(ObtainRecord(table_, number));
        EXPECT_NE(record, nullptr) << "number " << number;
        if (record != nullptr) {
            record->system = system;
            record->payload = number;
        }
        return record;
    }

    // A live record on the handle list; returns its handle.
    int32_t LiveHandle(uint32_t system = 0x2000) { return HandleOf(Live(AnyNumber, system)); }

    int HandleCount() const {
        int count = 0;
        for (HandleElement* e = table_->handles; e != nullptr; e = e->next) {
            ++count;
        }
        return count;
    }

    ObjectTable* table_ = nullptr;
};

TEST_F(ObjectTableTest, NewTableHasGrowthStepSlotsAndNoObjects) {
    EXPECT_EQ(table_->slotCount, GrowthStep);
    EXPECT_EQ(table_->handles, nullptr);
    for (int32_t number = 0; number < GrowthStep; ++number) {
        EXPECT_EQ(FindRecord(table_, number), nullptr) << "slot " << number << " never made";
    }
}

TEST_F(ObjectTableTest, HandlesAreDistinctNonzeroAndOutsideTheSlotRange) {
    std::set<int32_t> seen;
    std::vector<int32_t> handles;
    for (int i = 0; i < 64; ++i) {
        int32_t handle = LiveHandle(static_cast<uint32_t>(i + 1));
        EXPECT_NE(handle, 0);
        EXPECT_NE(handle, AnyNumber);
        EXPECT_FALSE(handle >= 0 && handle < table_->slotCount)
            << "handle " << handle << " falls among the slot numbers";
        EXPECT_TRUE(seen.insert(handle).second) << "handle " << handle << " given out twice";
        handles.push_back(handle);
    }
    for (size_t i = 0; i < handles.size(); ++i) {
        auto* record = static_cast<TestRecord*>(FindRecord(table_, handles[i]));
        ASSERT_NE(record, nullptr) << "handle " << handles[i];
        EXPECT_EQ(record->system, i + 1) << "each handle names its own record";
    }
}

TEST_F(ObjectTableTest, NewRecordsAreZeroFilled) {
    auto* slotRecord = static_cast<TestRecord*>(ObtainRecord(table_, 4));
    auto* handleRecord = static_cast<TestRecord*>(ObtainRecord(table_, AnyNumber));
    ASSERT_NE(slotRecord, nullptr);
    ASSERT_NE(handleRecord, nullptr);
    for (const TestRecord* record : {slotRecord, handleRecord}) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(record);
        for (size_t i = 0; i < sizeof(TestRecord); ++i) {
            EXPECT_EQ(bytes[i], 0) << "byte " << i;
        }
    }
}

TEST_F(ObjectTableTest, FindRecordSeesOnlyLiveRecords) {
    auto* slotRecord = static_cast<TestRecord*>(ObtainRecord(table_, 2));
    auto* handleRecord = static_cast<TestRecord*>(ObtainRecord(table_, AnyNumber));
    int32_t handle = HandleOf(handleRecord);
    EXPECT_EQ(FindRecord(table_, 2), nullptr) << "first field 0: no live object";
    EXPECT_EQ(FindRecord(table_, handle), nullptr) << "first field 0: no live object";

    slotRecord->system = 0x80000000u;
    handleRecord->system = 1;
    EXPECT_EQ(FindRecord(table_, 2), slotRecord);
    EXPECT_EQ(FindRecord(table_, handle), handleRecord);
}

TEST_F(ObjectTableTest, FindRecordRefusesValuesThatNameNothing) {
    int32_t handle = LiveHandle();
    Live(1);
    EXPECT_EQ(FindRecord(table_, 0), nullptr) << "slot 0 never made";
    EXPECT_EQ(FindRecord(table_, GrowthStep), nullptr) << "past the slots";
    EXPECT_EQ(FindRecord(table_, AnyNumber), nullptr);
    EXPECT_EQ(FindRecord(table_, INT32_MIN), nullptr);
    EXPECT_EQ(FindRecord(table_, INT32_MAX), nullptr);
    EXPECT_EQ(FindRecord(table_, 0x12345678), nullptr);
    EXPECT_EQ(FindRecord(table_, handle + 4), nullptr) << "inside a record is not a handle";
    EXPECT_EQ(FindRecord(table_, handle - static_cast<int32_t>(sizeof(HandleElement))), nullptr)
        << "the list element is not a handle";
    EXPECT_EQ(FindRecord(nullptr, handle), nullptr) << "no table";
}

TEST_F(ObjectTableTest, HandleOfOneTableIsUnknownToAnother) {
    int32_t handle = LiveHandle();
    ObjectTable* other = MakeObjectTable(sizeof(TestRecord), GrowthStep, nullptr);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(FindRecord(other, handle), nullptr);
    RetireObjectTable(other);
}

TEST_F(ObjectTableTest, SlotBeyondTheArrayGrowsItByTheStep) {
    TestRecord* three = Live(3, 0x33);
    TestRecord* twenty = Live(20, 0x20);
    ASSERT_NE(twenty, nullptr);
    EXPECT_EQ(table_->slotCount, 20 + GrowthStep);
    EXPECT_EQ(FindRecord(table_, 3), three) << "earlier slots survive growth";
    EXPECT_EQ(FindRecord(table_, 20), twenty);
    for (int32_t number = GrowthStep; number < table_->slotCount; ++number) {
        if (number != 20) {
            EXPECT_EQ(FindRecord(table_, number), nullptr) << "new slot " << number;
            EXPECT_EQ(table_->slots[number], nullptr) << "new slot " << number << " not cleared";
        }
    }
    EXPECT_TRUE(Log.values.empty()) << "a fresh slot closes nothing";
}

TEST_F(ObjectTableTest, FirstSlotPastTheArrayGrowsIt) {
    Live(GrowthStep);
    EXPECT_EQ(table_->slotCount, 2 * GrowthStep);
    Live(2 * GrowthStep - 1);
    EXPECT_EQ(table_->slotCount, 2 * GrowthStep) << "a slot inside the array needs no growth";
}

TEST_F(ObjectTableTest, ObtainingALiveSlotClosesItsObjectAndReusesTheRecord) {
    TestRecord* old = Live(5, 0x5555);
    old->more[3] = 77;
    auto* again = static_cast<TestRecord*>(ObtainRecord(table_, 5));
    ASSERT_EQ(Log.values.size(), 1u);
    EXPECT_EQ(Log.values[0], 5);
    EXPECT_TRUE(Log.liveAtCall[0]) << "release sees the object still live";
    EXPECT_EQ(again, old) << "the record is reused in place";
    EXPECT_EQ(again->system, 0u);
    EXPECT_EQ(again->more[3], 0);
}

TEST_F(ObjectTableTest, ReusedSlotRecordIsZeroedEvenIfReleaseLeavesIt) {
    Log.giveBack = false; // a release operation that does not clear the record
    TestRecord* old = Live(6, 0x6666);
    auto* again = static_cast<TestRecord*>(ObtainRecord(table_, 6));
    EXPECT_EQ(Log.values, std::vector<int32_t>{6});
    EXPECT_EQ(again, old);
    EXPECT_EQ(again->system, 0u);
    EXPECT_EQ(again->payload, 0);
}

TEST_F(ObjectTableTest, GivingBackASlotZeroesItInPlace) {
    TestRecord* record = Live(7, 0x7777);
    record->more[0] = 9;
    GiveBackRecord(table_, 7);
    EXPECT_EQ(FindRecord(table_, 7), nullptr);
    EXPECT_EQ(table_->slots[7], record) << "the record stays for the slot's next object";
    EXPECT_EQ(record->system, 0u);
    EXPECT_EQ(record->more[0], 0);
    EXPECT_TRUE(Log.values.empty()) << "giving back calls no release operation";
}

TEST_F(ObjectTableTest, GivingBackAHandleUnlinksAndFreesIt) {
    int32_t oldest = LiveHandle(1);
    int32_t middle = LiveHandle(2);
    int32_t newest = LiveHandle(3);
    void* element = reinterpret_cast<HandleElement*>(FindRecord(table_, middle)) - 1;
    ASSERT_TRUE(IsBusyMainBlock(element));

    GiveBackRecord(table_, middle);
    EXPECT_EQ(FindRecord(table_, middle), nullptr) << "stale handle " << middle;
    EXPECT_FALSE(IsBusyMainBlock(element)) << "the handle's record is freed";
    EXPECT_EQ(HandleCount(), 2);
    EXPECT_NE(FindRecord(table_, oldest), nullptr);
    EXPECT_NE(FindRecord(table_, newest), nullptr);
    EXPECT_TRUE(Log.values.empty()) << "giving back calls no release operation";

    GiveBackRecord(table_, newest); // the head of the list
    GiveBackRecord(table_, oldest); // and then the last one
    EXPECT_EQ(table_->handles, nullptr);
    EXPECT_EQ(FindRecord(table_, oldest), nullptr);
    EXPECT_EQ(FindRecord(table_, newest), nullptr);
}

TEST_F(ObjectTableTest, GivingBackWhatNamesNothingChangesNothing) {
    int32_t handle = LiveHandle();
    Live(0);
    GiveBackRecord(table_, handle);
    GiveBackRecord(table_, handle); // now stale
    GiveBackRecord(table_, 0x12345678);
    GiveBackRecord(table_, AnyNumber);
    GiveBackRecord(table_, 9); // a slot never made
    GiveBackRecord(nullptr, 0);
    EXPECT_NE(FindRecord(table_, 0), nullptr);
    EXPECT_EQ(table_->handles, nullptr);
    EXPECT_TRUE(HeapValidate(dovemarl::runtime::MainHeap, 0, nullptr)) << "heap damaged";
}

TEST_F(ObjectTableTest, ReleaseAllGoesThroughSlotsAscendingThenHandlesOldestFirst) {
    int32_t first = LiveHandle(0x10);
    Live(7);
    int32_t second = LiveHandle(0x20);
    Live(2);
    Live(30); // grows the slot array
    Live(5);
    GiveBackRecord(table_, 5); // its record stays, with no live object
    ObtainRecord(table_, 9);   // made but never given a system handle
    int32_t third = LiveHandle(0x30);

    ReleaseAllRecords(table_);
    EXPECT_EQ(Log.values, (std::vector<int32_t>{2, 7, 30, first, second, third}));
    for (size_t i = 0; i < Log.liveAtCall.size(); ++i) {
        EXPECT_TRUE(Log.liveAtCall[i]) << "value " << Log.values[i];
    }
    EXPECT_EQ(table_->handles, nullptr) << "every handle given back";
    for (int32_t value : {2, 7, 30, first, second, third}) {
        EXPECT_EQ(FindRecord(table_, value), nullptr) << "value " << value;
    }
}

TEST_F(ObjectTableTest, ReleaseAllWithNothingToReleaseCallsNothing) {
    ReleaseAllRecords(table_);
    EXPECT_TRUE(Log.values.empty());

    ObtainRecord(table_, 3); // a record, but no live object in it
    ReleaseAllRecords(table_);
    EXPECT_TRUE(Log.values.empty());
}

TEST_F(ObjectTableTest, ReleaseAllWithoutAReleaseOperationLeavesTheObjects) {
    ObjectTable* plain = MakeObjectTable(sizeof(TestRecord), 4, nullptr);
    ASSERT_NE(plain, nullptr);
    auto* slotRecord = static_cast<TestRecord*>(ObtainRecord(plain, 1));
    auto* handleRecord = static_cast<TestRecord*>(ObtainRecord(plain, AnyNumber));
    slotRecord->system = 1;
    handleRecord->system = 2;
    ReleaseAllRecords(plain);
    EXPECT_EQ(FindRecord(plain, 1), slotRecord);
    EXPECT_EQ(FindRecord(plain, HandleOf(handleRecord)), handleRecord);

    slotRecord->system = 3;
    auto* again = static_cast<TestRecord*>(ObtainRecord(plain, 1));
    EXPECT_EQ(again, slotRecord) << "reusing a live slot without a release operation";
    EXPECT_EQ(again->system, 0u);
    EXPECT_TRUE(Log.values.empty());
    RetireObjectTable(plain);
}

TEST_F(ObjectTableTest, NumbersBelowAnyNumberAreRefused) {
    EXPECT_EQ(ObtainRecord(table_, -2), nullptr);
    EXPECT_EQ(ObtainRecord(table_, INT32_MIN), nullptr);
    EXPECT_EQ(table_->slotCount, GrowthStep);
    EXPECT_EQ(table_->handles, nullptr);
    EXPECT_EQ(ObtainRecord(nullptr, 0), nullptr) << "no table";
}

} // namespace
