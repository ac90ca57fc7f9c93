#include "guarded_call.h"

#include <windows.h>

// How the call is guarded. The thunk below builds a stack frame of its own,
// saves the registers a callee must preserve, and registers an exception
// handler frame on the thread's handler chain (fs:[0]) around the call, the
// same frame a compiler makes for __try. The handler is reached only by
// exceptions the plug-in did not handle itself, so a plug-in that catches
// its own exceptions (or calls system code that does) is left alone. On such
// an exception the handler unwinds the frames inside the plug-in (RtlUnwind
// runs their clean-up handlers) and resumes at the thunk's recovery point,
// with the thunk's own frame, which returns normally to the caller.
//
// Frame layout, relative to the thunk's ebp:
//   +16 outcome, +12 argument, +8 function, +4 return address, 0 saved ebp,
//   -4 ebx, -8 esi, -12 edi, -16 handler, -20 previous handler frame.
// The handler frame is at ebp-20; once the callee has removed its argument,
// esp is back at ebp-20.

namespace {

constexpr int FrameToEbp = 20;      // from the handler frame to the thunk's ebp
constexpr int EbpToOutcome = 16;    // from the thunk's ebp to its outcome argument
constexpr DWORD UnwindingFlags = 6; // EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND

} // namespace

extern "C" {

int32_t GuardedCallThunk(const void* function, uint32_t argument, standin::CallOutcome* outcome);
[[noreturn]] void GuardResume(void* frame);
EXCEPTION_DISPOSITION GuardFrameHandler(EXCEPTION_RECORD* record, void* frame, CONTEXT* context,
                                        void* dispatcher);
}

asm(R"(
    .text
    .globl _GuardedCallThunk
_GuardedCallThunk:
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    pushl $_GuardFrameHandler
    pushl %fs:0
    movl %esp, %fs:0
    pushl 12(%ebp)
    call *8(%ebp)
    movl 16(%ebp), %ecx
    movl %eax, 0(%ecx)
    leal -20(%ebp), %edx
    movl %esp, %eax
    subl %edx, %eax
    movl %eax, 4(%ecx)
    movl %edx, %esp
GuardRecoverPoint:
    popl %fs:0
    addl $4, %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret

    .globl _GuardResume
_GuardResume:
    movl 4(%esp), %eax
    leal 20(%eax), %ebp
    movl %eax, %esp
    jmp GuardRecoverPoint
)");

extern "C" EXCEPTION_DISPOSITION GuardFrameHandler(EXCEPTION_RECORD* record, void* frame, CONTEXT*,
                                                   void*) {
    if ((record->ExceptionFlags & UnwindingFlags) != 0) {
        return ExceptionContinueSearch;
    }
    char* ebp = static_cast<char*>(frame) + FrameToEbp;
    auto* outcome = *reinterpret_cast<standin::CallOutcome**>(ebp + EbpToOutcome);
    outcome->crashed = 1;
    outcome->exceptionCode = record->ExceptionCode;
    outcome->exceptionAddress =
        static_cast<uint32_t>(reinterpret_cast<uintptr_t>(record->ExceptionAddress));
    // Runs and removes the handler frames inside the plug-in, up to ours.
    RtlUnwind(frame, nullptr, record, nullptr);
    GuardResume(frame);
}

namespace standin {

CallOutcome GuardedCall(const void* function, uint32_t argument) {
    CallOutcome outcome;
    GuardedCallThunk(function, argument, &outcome);
    return outcome;
}

} // namespace standin
