// The library service against probe.dll: attaching by handle and by slot,
// calling exports with one argument, and freeing exactly what was loaded.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>

#include "runtime/library.h"
#include "runtime/object_table.h"
#include "support/plugin_library.h"

namespace {

using dovemarl::runtime::AnyNumber;
using dovemarl::runtime::AttachLibrary;
using dovemarl::runtime::CallLibraryProc;
using dovemarl::runtime::DetachLibrary;
using dovemarl::runtime::FindRecord;
using dovemarl::runtime::HandleElement;
using dovemarl::runtime::LibraryProc;
using dovemarl::runtime::LibraryTable;
using testing_support::Export;
using testing_support::PluginCall;

constexpr const char* Probe = "probe.dll";

bool ProbeLoaded() {
    return GetModuleHandleA(Probe) != nullptr;
}

int32_t AsValue(HMODULE module) {
    return static_cast<int32_t>(reinterpret_cast<uintptr_t>(module));
}

int HandleCount() {
    int count = 0;
    for (HandleElement* e = LibraryTable->handles; e != nullptr; e = e->next) {
        ++count;
    }
    return count;
}

// A reference of the test's own to probe.dll, through which its call count
// is read without going through the library service.
class ProbeReference {
  public:
    ProbeReference() : module_(LoadLibraryA(Probe)) {}
    ~ProbeReference() {
        if (module_ != nullptr) {
            FreeLibrary(module_);
        }
    }
    ProbeReference(const ProbeReference&) = delete;
    ProbeReference& operator=(const ProbeReference&) = delete;

    HMODULE Module() const { return module_; }
    int32_t CallCount() const { return Export<PluginCall>(module_, "CallCount")(0); }

  private:
    HMODULE module_;
};

// Reads the stack pointer; stdcall callees pop their own argument, so it must
// be the same before and after any number of calls.
__attribute__((noinline)) uint32_t StackPointerAround(int calls, int32_t* lastResult,
                                                      int32_t library, uint32_t* after) {
    uint32_t before = 0;
    asm volatile("movl %%esp, %0" : "=r"(before));
    int32_t result = 0;
    for (int i = 0; i < calls; ++i) {
        result = CallLibraryProc(library, "AddOne", result);
    }
    asm volatile("movl %%esp, %0" : "=r"(*after));
    *lastResult = result;
    return before;
}

// LibraryTable is module-wide: every test detaches all it attached, and
// starts with probe.dll not loaded.
class LibraryTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(LibraryTable, nullptr);
        ASSERT_FALSE(ProbeLoaded()) << "probe.dll left loaded by an earlier test";
    }
    void TearDown() override {
        DetachLibrary(AnyNumber);
        EXPECT_FALSE(ProbeLoaded()) << "probe.dll still loaded after detaching everything";
        EXPECT_EQ(LibraryTable->handles, nullptr);
    }
};

TEST_F(LibraryTest, AttachedLibrarysExportsCanBeCalled) {
    int32_t library = AttachLibrary(AnyNumber, Probe);
    ASSERT_NE(library, 0);
    EXPECT_TRUE(ProbeLoaded());
    EXPECT_EQ(CallLibraryProc(library, "AddOne", 41), 42);
    for (int32_t value : {0, 1, -1, -123456, 0x7FFF0000, INT32_MIN, INT32_MAX}) {
        EXPECT_EQ(CallLibraryProc(library, "Echo", value), value) << "Echo(" << value << ")";
    }
    EXPECT_EQ(CallLibraryProc(library, "AddOne", -1), 0);
    EXPECT_EQ(LibraryProc(library, "Echo"),
              reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA(Probe), "Echo")));
    DetachLibrary(library);
}

TEST_F(LibraryTest, ManyCallsKeepTheStackBalanced) {
    int32_t library = AttachLibrary(AnyNumber, Probe);
    ASSERT_NE(library, 0);
    int32_t last = 0;
    uint32_t after = 0;
    uint32_t before = StackPointerAround(1000, &last, library, &after);
    EXPECT_EQ(after, before) << "stack pointer moved by " << static_cast<int32_t>(after - before)
                             << " bytes over 1000 calls";
    EXPECT_EQ(last, 1000) << "AddOne chained 1000 times from 0";
    DetachLibrary(library);
}

TEST_F(LibraryTest, MissingExportOrNullNameCallsNothing) {
    int32_t library = AttachLibrary(AnyNumber, Probe);
    ASSERT_NE(library, 0);
    ProbeReference probe;
    int32_t calls = probe.CallCount();
    EXPECT_EQ(CallLibraryProc(library, "NoSuchExport", 5), 0);
    EXPECT_EQ(LibraryProc(library, "NoSuchExport"), nullptr);
    EXPECT_EQ(CallLibraryProc(library, nullptr, 5), 0);
    EXPECT_EQ(LibraryProc(library, nullptr), nullptr);
    EXPECT_EQ(CallLibraryProc(library, "_AddOne@4", 5), 0) << "exports are undecorated";
    EXPECT_EQ(probe.CallCount(), calls);
    EXPECT_EQ(CallLibraryProc(library, "AddOne", 5), 6);
    EXPECT_EQ(probe.CallCount(), calls + 1) << "the count does see calls";
    DetachLibrary(library);
}

TEST_F(LibraryTest, UnknownLibraryCallsNothing) {
    ProbeReference probe;
    ASSERT_NE(probe.Module(), nullptr);
    int32_t calls = probe.CallCount();
    EXPECT_EQ(CallLibraryProc(0, "AddOne", 1), 0) << "slot 0 never made";
    EXPECT_EQ(CallLibraryProc(AnyNumber, "AddOne", 1), 0);
    EXPECT_EQ(CallLibraryProc(0x12345678, "AddOne", 1), 0);
    EXPECT_EQ(CallLibraryProc(AsValue(probe.Module()), "AddOne", 1), 0)
        << "a module handle is not a library handle";
    EXPECT_EQ(LibraryProc(0, "AddOne"), nullptr);
    EXPECT_EQ(probe.CallCount(), calls);
}

TEST_F(LibraryTest, DetachingAHandleFreesTheLibrary) {
    int32_t library = AttachLibrary(AnyNumber, Probe);
    ASSERT_NE(library, 0);
    EXPECT_TRUE(ProbeLoaded());
    DetachLibrary(library);
    EXPECT_FALSE(ProbeLoaded());
    EXPECT_EQ(FindRecord(LibraryTable, library), nullptr);
    EXPECT_EQ(CallLibraryProc(library, "Echo", 3), 0) << "stale handle";
}

TEST_F(LibraryTest, EachAttachmentHoldsOneReference) {
    int32_t first = AttachLibrary(AnyNumber, Probe);
    int32_t second = AttachLibrary(AnyNumber, Probe);
    ASSERT_NE(first, 0);
    ASSERT_NE(second, 0);
    EXPECT_NE(first, second);
    DetachLibrary(first);
    EXPECT_TRUE(ProbeLoaded()) << "the second attachment still holds it";
    EXPECT_EQ(CallLibraryProc(second, "AddOne", 1), 2);
    EXPECT_EQ(CallLibraryProc(first, "AddOne", 1), 0) << "the first handle is gone";
    DetachLibrary(second);
    EXPECT_FALSE(ProbeLoaded());
}

TEST_F(LibraryTest, DetachingTwiceFreesOnce) {
    ProbeReference probe; // would be dropped by a second FreeLibrary
    int32_t library = AttachLibrary(AnyNumber, Probe);
    ASSERT_NE(library, 0);
    DetachLibrary(library);
    DetachLibrary(library);
    EXPECT_TRUE(ProbeLoaded()) << "the test's own reference must survive";
    EXPECT_EQ(Export<PluginCall>(probe.Module(), "Echo")(9), 9);
}

TEST_F(LibraryTest, DetachingSlotZeroWhenNeverMadeDoesNothing) {
    int32_t library = AttachLibrary(AnyNumber, Probe);
    ASSERT_NE(library, 0);
    DetachLibrary(0);
    EXPECT_TRUE(ProbeLoaded());
    EXPECT_EQ(CallLibraryProc(library, "AddOne", 1), 2);
    DetachLibrary(library);
}

TEST_F(LibraryTest, MissingFileLeavesNoLiveObject) {
    int handles = HandleCount();
    EXPECT_EQ(AttachLibrary(AnyNumber, "no_such_library.dll"), 0);
    EXPECT_EQ(HandleCount(), handles) << "no handle record kept for a failed load";
    EXPECT_EQ(AttachLibrary(4, "no_such_library.dll"), 0);
    EXPECT_EQ(FindRecord(LibraryTable, 4), nullptr);
    EXPECT_EQ(CallLibraryProc(4, "AddOne", 1), 0);
}

TEST_F(LibraryTest, NullFileNameLeavesNoLiveObject) {
    int handles = HandleCount();
    EXPECT_EQ(AttachLibrary(AnyNumber, nullptr), 0);
    EXPECT_EQ(HandleCount(), handles);
    EXPECT_EQ(AttachLibrary(6, nullptr), 0);
    EXPECT_EQ(FindRecord(LibraryTable, 6), nullptr);
}

TEST_F(LibraryTest, SlotNumberNamesTheLibraryAndReturnsTheModuleHandle) {
    int32_t result = AttachLibrary(3, Probe);
    ASSERT_TRUE(ProbeLoaded());
    EXPECT_EQ(result, AsValue(GetModuleHandleA(Probe)));
    EXPECT_EQ(CallLibraryProc(3, "AddOne", 1), 2);
    EXPECT_EQ(CallLibraryProc(3, "Echo", INT32_MIN), INT32_MIN);
    DetachLibrary(3);
    EXPECT_FALSE(ProbeLoaded());
    EXPECT_EQ(CallLibraryProc(3, "AddOne", 1), 0);
}

TEST_F(LibraryTest, AttachingToAnOccupiedSlotFreesTheOldLibrary) {
    ASSERT_NE(AttachLibrary(3, Probe), 0);
    ASSERT_NE(AttachLibrary(3, Probe), 0);
    EXPECT_EQ(CallLibraryProc(3, "AddOne", 1), 2);
    DetachLibrary(3);
    EXPECT_FALSE(ProbeLoaded()) << "the first attachment's reference was not given back";
}

TEST_F(LibraryTest, FailedAttachToAnOccupiedSlotFreesTheOldLibrary) {
    ASSERT_NE(AttachLibrary(5, Probe), 0);
    EXPECT_EQ(AttachLibrary(5, "no_such_library.dll"), 0);
    EXPECT_FALSE(ProbeLoaded());
    EXPECT_EQ(FindRecord(LibraryTable, 5), nullptr);
}

TEST_F(LibraryTest, DetachingAnyNumberFreesEverything) {
    int32_t first = AttachLibrary(AnyNumber, Probe);
    ASSERT_NE(AttachLibrary(2, Probe), 0);
    ASSERT_NE(AttachLibrary(20, Probe), 0); // beyond the initial slots
    int32_t second = AttachLibrary(AnyNumber, Probe);
    ASSERT_NE(first, 0);
    ASSERT_NE(second, 0);
    DetachLibrary(AnyNumber);
    EXPECT_FALSE(ProbeLoaded()) << "one reference per attachment, all given back";
    for (int32_t value : {first, second, 2, 20}) {
        EXPECT_EQ(FindRecord(LibraryTable, value), nullptr) << "value " << value;
    }
    EXPECT_EQ(LibraryTable->handles, nullptr);
}

} // namespace
