// The thunk through which the module calls code of others: what the callee
// finds on entry and what it may leave behind for the caller.
#include <gtest/gtest.h>

#include <cstdint>

#include "runtime/foreign_call.h"

extern "C" int32_t DovemarlCallForeign(const void* function, int32_t argument);

namespace {

using dovemarl::runtime::CallForeign;

constexpr uint32_t DirectionFlag = 1u << 10;
constexpr uint16_t AllX87RegistersEmpty = 0xFFFF;

// A query function that answers with a double: the value travels in st(0),
// which its caller, expecting an integer, never pops.
extern "C" __attribute__((noinline)) double __stdcall AnswersWithADouble(int32_t value) {
    return value * 0.5;
}

volatile uint32_t FlagsOnEntry = 0;

extern "C" __attribute__((noinline)) int32_t __stdcall RecordsItsFlags(int32_t value) {
    uint32_t flags = 0;
    asm volatile("pushfl\n\tpopl %0" : "=r"(flags));
    FlagsOnEntry = flags;
    return value;
}

// Returns its argument with the direction flag set, as a careless assembly
// routine might.
extern "C" __attribute__((naked)) int32_t __stdcall LeavesTheDirectionFlagSet(int32_t) {
    asm("std\n\t"
        "movl 4(%esp), %eax\n\t"
        "ret $4");
}

struct X87State {
    uint16_t tags = 0; // two bits a register, 11 = empty
    uint16_t top = 0;  // the stack top from the status word
};

X87State ReadX87State() {
    struct {
        uint32_t control, status, tags, rest[4];
    } environment = {};
    // fnstenv masks every x87 exception as it stores; fldenv puts the
    // control word back.
    asm volatile("fnstenv %0\n\tfldenv %0" : "+m"(environment));
    return {static_cast<uint16_t>(environment.tags),
            static_cast<uint16_t>((environment.status >> 11) & 7)};
}

// Calls through the thunk with the direction flag set, as a host might call
// the plug-in, and returns the flags right after the thunk returned.
uint32_t CallWithTheDirectionFlagSet(const void* function, int32_t argument, int32_t* result) {
    uint32_t flagsAfter = 0;
    asm volatile("std\n\t"
                 "pushl %[argument]\n\t"
                 "pushl %[function]\n\t"
                 "call _DovemarlCallForeign\n\t"
                 "addl $8, %%esp\n\t"
                 "pushfl\n\t"
                 "popl %[flags]\n\t"
                 "cld"
                 : "=a"(*result), [flags] "=r"(flagsAfter)
                 : [function] "r"(function), [argument] "r"(argument)
                 : "ecx", "edx", "memory", "cc");
    return flagsAfter;
}

TEST(ForeignCall, ADoubleAnswerIsTakenOffTheX87Stack) {
    X87State before = ReadX87State();
    ASSERT_EQ(before.tags, AllX87RegistersEmpty) << "the x87 stack is in use before the test";
    // Nine calls: without the clean-up the eighth fills the stack and the
    // ninth overflows it.
    for (int i = 0; i < 9; ++i) {
        CallForeign(reinterpret_cast<const void*>(&AnswersWithADouble), i);
    }
    X87State after = ReadX87State();
    EXPECT_EQ(after.tags, AllX87RegistersEmpty)
        << std::hex << "x87 tag word 0x" << after.tags << ", expected 0x" << AllX87RegistersEmpty;
    EXPECT_EQ(after.top, before.top) << "x87 stack top moved";
    // The host's own floating-point code still computes.
    volatile double a = 1.25;
    volatile double b = 2.5;
    EXPECT_EQ(a * b + a, 4.375);
}

TEST(ForeignCall, TheCalleeStartsAndTheCallerGoesOnWithTheDirectionFlagClear) {
    int32_t result = 0;
    FlagsOnEntry = DirectionFlag;
    uint32_t after =
        CallWithTheDirectionFlagSet(reinterpret_cast<const void*>(&RecordsItsFlags), 21, &result);
    EXPECT_EQ(result, 21);
    EXPECT_EQ(FlagsOnEntry & DirectionFlag, 0u) << "callee entered with the direction flag set";
    EXPECT_EQ(after & DirectionFlag, 0u) << "thunk returned with the direction flag set";

    after = CallWithTheDirectionFlagSet(reinterpret_cast<const void*>(&LeavesTheDirectionFlagSet),
                                        -5, &result);
    EXPECT_EQ(result, -5);
    EXPECT_EQ(after & DirectionFlag, 0u) << "the flag the callee set came back to the caller";
}

} // namespace
