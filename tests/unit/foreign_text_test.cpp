// Texts whose address came from outside the module: a fault while one is
// measured or copied ends the read, not the process, and only such a fault: a
// write into the module's own buffer that faults is not hidden; the guarded call leaves
// the thread's registers and handler chain as it found them; a guard page
// keeps its guard; a text freed while it is read reads as empty or shorter.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "guarded_call.h"
#include "runtime/fault_guard.h"
#include "runtime/readable_text.h"
#include "runtime/text_building.h"
#include "runtime/text_workspace.h"

namespace {

using namespace dovemarl::runtime;

constexpr size_t PageBytes = 4096;

// The newest frame on the thread's exception handler chain.
void* HandlerChainHead() {
    void* head = nullptr;
    asm volatile("movl %%fs:0, %0" : "=r"(head));
    return head;
}

// Address space of count pages, the first committed ones readable.
struct Pages {
    char* base;
    Pages(size_t count, size_t committed) {
        base = static_cast<char*>(
            VirtualAlloc(nullptr, count * PageBytes, MEM_RESERVE, PAGE_NOACCESS));
        if (base != nullptr && committed > 0) {
            VirtualAlloc(base, committed * PageBytes, MEM_COMMIT, PAGE_READWRITE);
        }
    }
    ~Pages() { VirtualFree(base, 0, MEM_RELEASE); }
    Pages(const Pages&) = delete;
    Pages& operator=(const Pages&) = delete;
};

std::string ForeignAt(const char* text, int32_t at = AtPosition) {
    int32_t mark = TextMark();
    AppendForeignText(text, at == AtPosition ? AtPosition : mark + at);
    std::string built = TextBase() + mark;
    TextRelease(mark);
    return built;
}

// Overwrites the registers a callee must preserve, as code cut short in the
// middle of its work may leave them, sets the direction flag, as a backward
// string copy does, then reads address 0.
void ScrambleAndFault(void*) {
    asm volatile("std\n\t"
                 "movl $0x0badf00d, %%ebx\n\t"
                 "movl $0x0badf00d, %%esi\n\t"
                 "movl $0x0badf00d, %%edi\n\t"
                 "movl $0x0badf00d, %%ebp\n\t"
                 "movl 0, %%eax"
                 :
                 :
                 : "eax", "ebx", "esi", "edi", "memory");
}

// Code expects the direction flag clear, as the calling convention leaves it.
bool DirectionFlagSet() {
    constexpr uint32_t DirectionFlag = 0x400;
    uint32_t flags = 0;
    asm volatile("pushfl\n\t"
                 "popl %0"
                 : "=r"(flags));
    return (flags & DirectionFlag) != 0;
}

void Add(void* context) {
    ++*static_cast<int*>(context);
}

TEST(GuardedRead, CutCallLeavesTheCallersRegistersAndHandlerChain) {
    volatile uint32_t seed = 7;
    // Values kept in registers across the calls, checked against the same
    // arithmetic without them.
    uint32_t a = seed * 3, b = seed * 5, c = seed * 11;
    uint32_t x = a, y = b, z = c;
    void* chain = HandlerChainHead();
    int cut = 0;
    int directionSet = 0;
    for (int i = 0; i < 100; ++i) {
        cut += RunGuarded(ScrambleAndFault, nullptr, nullptr, 1) ? 0 : 1;
        directionSet += DirectionFlagSet() ? 1 : 0;
        a = a * 31 + b;
        b ^= a >> 3;
        c += a ^ b;
        x = x * 31 + y;
        y ^= x >> 3;
        z += x ^ y;
    }
    EXPECT_EQ(cut, 100);
    EXPECT_EQ(directionSet, 0);
    EXPECT_EQ(a, x);
    EXPECT_EQ(b, y);
    EXPECT_EQ(c, z);
    EXPECT_EQ(HandlerChainHead(), chain);
    int count = 0;
    EXPECT_TRUE(RunGuarded(Add, &count, &count, sizeof count));
    EXPECT_EQ(count, 1);
    EXPECT_EQ(HandlerChainHead(), chain);
}

constexpr DWORD OtherException = 0xE0D0F001;

void RaiseOther(void*) {
    RaiseException(OtherException, 0, 0, nullptr);
}

int32_t __stdcall GuardAroundRaise(uint32_t) {
    RunGuarded(RaiseOther, nullptr, nullptr, UnboundedRead);
    return 0;
}

TEST(GuardedRead, OtherExceptionsGoOnToTheHandlersFurtherOut) {
    void* chain = HandlerChainHead();
    standin::CallOutcome outcome =
        standin::GuardedCall(reinterpret_cast<const void*>(&GuardAroundRaise), 0);
    EXPECT_EQ(outcome.crashed, 1);
    EXPECT_EQ(outcome.exceptionCode, OtherException);
    EXPECT_EQ(HandlerChainHead(), chain) << "the unwinding took the guard's frame off";
}

// A fault raised inside the guarded call as the system raises it for a
// failed access: the kind (0 read, 1 write, 8 execute) and the address, here
// around a foreign range that is never touched. (A guard-page violation is not
// raised this way: the guard would put a guard on memory that never had one.
// Real ones are read below.)
struct RaisedFault {
    const char* what;
    DWORD code;
    ULONG_PTR kind;
    intptr_t offset; // from the start of the foreign range
    bool cut;        // ends the read; otherwise it reaches the handlers further out
};
const RaisedFault* Raising = nullptr;
constexpr uintptr_t ForeignStart = 0x20000100; // 16 bytes in the page at 0x20000000
constexpr size_t ForeignBytes = 16;
constexpr ULONG_PTR DeviceNotConnected = 0xC000009D; // why the page could not be brought in

void RaiseFault(void*) {
    const ULONG_PTR parameters[3] = {Raising->kind, ForeignStart + Raising->offset,
                                     DeviceNotConnected};
    RaiseException(Raising->code, 0, Raising->code == STATUS_IN_PAGE_ERROR ? 3 : 2, parameters);
}

int32_t __stdcall GuardAroundFault(uint32_t) {
    return RunGuarded(RaiseFault, nullptr, reinterpret_cast<const void*>(ForeignStart),
                      ForeignBytes)
               ? 1
               : 0;
}

TEST(GuardedRead, OnlyFailedReadsOfTheForeignPagesEndTheRead) {
    constexpr ULONG_PTR Read = 0, Write = 1, Execute = 8;
    const RaisedFault faults[] = {
        {"access violation reading", STATUS_ACCESS_VIOLATION, Read, 3, true},
        {"in-page error reading (file or share gone)", STATUS_IN_PAGE_ERROR, Read, 0, true},
        {"aligned read from the start of its page", STATUS_ACCESS_VIOLATION, Read, -0x100, true},
        {"access violation writing", STATUS_ACCESS_VIOLATION, Write, 3, false},
        {"in-page error writing", STATUS_IN_PAGE_ERROR, Write, 3, false},
        {"executing", STATUS_ACCESS_VIOLATION, Execute, 3, false},
        {"reading the page after", STATUS_ACCESS_VIOLATION, Read, 0x1000, false},
        {"reading the page before", STATUS_ACCESS_VIOLATION, Read, -0x104, false},
    };
    void* chain = HandlerChainHead();
    for (const RaisedFault& fault : faults) {
        Raising = &fault;
        standin::CallOutcome outcome =
            standin::GuardedCall(reinterpret_cast<const void*>(&GuardAroundFault), 0);
        std::printf("%-44s cut %d, passed on %d (code %08lx)\n", fault.what,
                    outcome.crashed == 0 && outcome.result == 0, outcome.crashed,
                    static_cast<unsigned long>(outcome.exceptionCode));
        if (fault.cut) {
            EXPECT_EQ(outcome.crashed, 0) << fault.what;
            EXPECT_EQ(outcome.result, 0) << fault.what << ": the read reports failure";
        } else {
            EXPECT_EQ(outcome.crashed, 1) << fault.what;
            EXPECT_EQ(outcome.exceptionCode, fault.code) << fault.what;
        }
        EXPECT_EQ(HandlerChainHead(), chain) << fault.what;
    }
    Raising = nullptr;
}

// A real write fault: the module's buffer is read-only. The copy of a
// readable text does not report an unreadable text; the fault reaches the
// handlers further out, with the buffer's address.
char* ReadOnlyBuffer = nullptr;

int32_t __stdcall CopyIntoReadOnlyBuffer(uint32_t) {
    static const char text[] = "readable";
    return CopyReadableText(ReadOnlyBuffer, text, sizeof text) ? 1 : 0;
}

TEST(GuardedRead, FaultWritingTheModulesBufferIsNotHidden) {
    Pages pages(1, 1);
    ASSERT_NE(pages.base, nullptr);
    DWORD previous = 0;
    ASSERT_TRUE(VirtualProtect(pages.base, PageBytes, PAGE_READONLY, &previous));
    ReadOnlyBuffer = pages.base;
    standin::CallOutcome outcome =
        standin::GuardedCall(reinterpret_cast<const void*>(&CopyIntoReadOnlyBuffer), 0);
    EXPECT_EQ(outcome.crashed, 1) << "got result " << outcome.result;
    EXPECT_EQ(outcome.exceptionCode, static_cast<uint32_t>(STATUS_ACCESS_VIOLATION));
    ReadOnlyBuffer = nullptr;
}

TEST(GuardedRead, GuardPageReadsAsEmptyAndKeepsItsGuard) {
    Pages pages(2, 2);
    ASSERT_NE(pages.base, nullptr);
    std::memset(pages.base, 'g', 2 * PageBytes - 1);
    pages.base[2 * PageBytes - 1] = '\0';
    char* second = pages.base + PageBytes;
    DWORD previous = 0;
    ASSERT_TRUE(VirtualProtect(second, PageBytes, PAGE_READWRITE | PAGE_GUARD, &previous));
    auto guarded = [&] {
        MEMORY_BASIC_INFORMATION region = {};
        VirtualQuery(second, &region, sizeof region);
        return (region.Protect & PAGE_GUARD) != 0;
    };
    // Twice on the page itself: unguarded after the first read, the second
    // would see its text. Then a text that runs into it.
    EXPECT_EQ(ForeignAt(second), "");
    EXPECT_TRUE(guarded());
    EXPECT_EQ(ForeignAt(second), "");
    EXPECT_TRUE(guarded());
    EXPECT_EQ(ForeignAt(pages.base), "");
    EXPECT_TRUE(guarded());
    ASSERT_TRUE(VirtualProtect(second, PageBytes, PAGE_READWRITE, &previous));
    EXPECT_EQ(ForeignAt(second), std::string(PageBytes - 1, 'g'));
}

TEST(GuardedRead, TextRunningIntoReservedMemoryReadsAsEmptyWhereverItIsPlaced) {
    Pages pages(2, 1);
    ASSERT_NE(pages.base, nullptr);
    std::memset(pages.base, 'r', PageBytes);
    const char* end = pages.base + PageBytes;
    // A fresh thread's workspace has room for a few bytes: the short text
    // faults in the one-pass read, the long one while it is measured.
    std::string shortText = "x";
    std::string longText = "x";
    std::thread([&] {
        shortText = ForeignAt(end - 4);
        longText = ForeignAt(end - PageBytes);
    }).join();
    EXPECT_EQ(shortText, "");
    EXPECT_EQ(longText, "");
    // At a mark before the position, and at the position of this thread's
    // workspace, whatever room it has.
    int32_t mark = TextMark();
    AppendText("to be replaced");
    AppendForeignText(end - 4, mark + 3);
    EXPECT_EQ(std::string(TextBase() + mark), "to ");
    EXPECT_EQ(CurrentTextWorkspace()->position, mark + 3);
    TextRelease(mark);
    EXPECT_EQ(ForeignAt(end - PageBytes), "");
    EXPECT_EQ(ForeignAt(nullptr), "");
}

TEST(GuardedRead, PiecesOfTheReadReportWhatTheyCouldRead) {
    Pages pages(2, 1);
    ASSERT_NE(pages.base, nullptr);
    std::strcpy(pages.base, "readable");
    char out[16] = {};
    size_t length = 0;
    EXPECT_EQ(ReadTextWithin(pages.base, out, sizeof out, &length), TextRead::Read);
    EXPECT_EQ(length, 8u);
    EXPECT_STREQ(out, "readable");
    EXPECT_EQ(ReadTextWithin(pages.base, out, 8, &length), TextRead::Longer) << "no room for NUL";
    EXPECT_TRUE(MeasureReadableText(pages.base, &length));
    EXPECT_EQ(length, 8u);
    // A copy that reaches memory freed since the text was measured.
    std::string copy(2 * PageBytes, '\0');
    EXPECT_FALSE(CopyReadableText(copy.data(), pages.base, copy.size()));
    EXPECT_TRUE(CopyReadableText(copy.data(), pages.base, PageBytes));
}

// One thread reads a text over sixteen pages while another decommits its
// last page and makes it again: whenever the read meets the page missing or
// half made, the text reads as empty or as a shorter text, never as garbage,
// and the process goes on.
TEST(GuardedRead, TextFreedWhileItIsReadReadsAsEmptyOrShorter) {
    constexpr size_t Count = 16;
    constexpr int Reads = 2000;
    Pages pages(Count, Count);
    ASSERT_NE(pages.base, nullptr);
    std::string full(Count * PageBytes - 1, 'q');
    std::memcpy(pages.base, full.c_str(), full.size() + 1);
    char* last = pages.base + (Count - 1) * PageBytes;
    volatile LONG stop = 0;
    std::thread churn([&] {
        while (stop == 0) {
            VirtualFree(last, PageBytes, MEM_DECOMMIT);
            if (VirtualAlloc(last, PageBytes, MEM_COMMIT, PAGE_READWRITE) != nullptr) {
                std::memset(last, 'q', PageBytes - 1);
                last[PageBytes - 1] = '\0';
            }
        }
    });
    int whole = 0, shorter = 0, empty = 0, wrong = 0;
    for (int i = 0; i < Reads; ++i) {
        std::string got = ForeignAt(pages.base);
        if (got.size() > full.size() || full.compare(0, got.size(), got) != 0) {
            ++wrong;
        }
        if (got.empty()) {
            ++empty;
        } else if (got.size() == full.size()) {
            ++whole;
        } else {
            ++shorter;
        }
    }
    InterlockedExchange(&stop, 1);
    churn.join();
    std::printf("%d reads: %d whole, %d shorter, %d empty\n", Reads, whole, shorter, empty);
    EXPECT_EQ(wrong, 0);
}

} // namespace
