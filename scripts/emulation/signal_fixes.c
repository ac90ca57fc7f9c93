/*
 * Preloaded into every 32-bit Linux process that qemu-user runs for Wine
 * (scripts/emulation.sh): makes the signals qemu delivers look as the kernel
 * delivers them, which is what Wine's exception dispatch reads.
 *
 * qemu-user, up to at least 10.0, differs from the kernel in two ways that
 * matter to Wine:
 *   - the trap number in the signal context is always -1, so Wine takes every
 *     access violation, breakpoint or division by zero for an illegal
 *     instruction (0xc000001d);
 *   - the direction flag is left as the interrupted code had it, so a handler
 *     entered after a backward string copy runs its own copies backwards and
 *     corrupts the stack it runs on.
 *
 * Every SA_SIGINFO handler installed for a fault signal is called through
 * fault_entry, which clears the direction flag and fills in the trap number
 * (and the instruction-fetch bit of a page fault's error code) from the
 * signal and its si_code, as the kernel would have.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <signal.h>
#include <stddef.h>
#include <ucontext.h>

enum {
    TrapDivide = 0,
    TrapDebug = 1,
    TrapBreakpoint = 3,
    TrapOverflow = 4,
    TrapInvalidOpcode = 6,
    TrapProtection = 13,
    TrapPageFault = 14,
    TrapFloatingPoint = 16,
    TrapAlignment = 17,
    PageFaultFetch = 0x10,
    SignalCount = 65,
};

typedef void (*info_handler)(int, siginfo_t*, void*);
typedef int (*sigaction_function)(int, const struct sigaction*, struct sigaction*);

static volatile info_handler handlers[SignalCount];

static int fixed_signal(int sig) {
    return sig == SIGSEGV || sig == SIGBUS || sig == SIGILL || sig == SIGTRAP || sig == SIGFPE;
}

static int trap_of(int sig, const siginfo_t* info) {
    switch (sig) {
    case SIGSEGV:
        return info->si_code == SEGV_MAPERR || info->si_code == SEGV_ACCERR ? TrapPageFault
                                                                            : TrapProtection;
    case SIGBUS:
        return info->si_code == BUS_ADRALN ? TrapAlignment : TrapPageFault;
    case SIGILL:
        return TrapInvalidOpcode;
    case SIGTRAP:
        return info->si_code == TRAP_TRACE ? TrapDebug : TrapBreakpoint;
    case SIGFPE:
        if (info->si_code == FPE_INTDIV)
            return TrapDivide;
        if (info->si_code == FPE_INTOVF)
            return TrapOverflow;
        return TrapFloatingPoint;
    }
    return -1;
}

__attribute__((visibility("hidden"))) void fault_handler(int sig, siginfo_t* info, void* context) {
    ucontext_t* uc = context;
    greg_t* regs = uc->uc_mcontext.gregs;
    if ((int)regs[REG_TRAPNO] == -1) {
        regs[REG_TRAPNO] = trap_of(sig, info);
        /* A fault at the instruction pointer itself was an instruction fetch. */
        if (regs[REG_TRAPNO] == TrapPageFault && (greg_t)info->si_addr == regs[REG_EIP])
            regs[REG_ERR] |= PageFaultFetch;
    }
    handlers[sig](sig, info, context);
}

/* Clears the direction flag before any compiled code runs, then goes on to
 * fault_handler with the kernel's arguments still in place. */
__attribute__((visibility("hidden"))) void fault_entry(int, siginfo_t*, void*);
__asm__(".text\n"
        ".globl fault_entry\n"
        ".hidden fault_entry\n"
        ".type fault_entry, @function\n"
        "fault_entry:\n"
        "    cld\n"
        "    jmp fault_handler\n");

int sigaction(int sig, const struct sigaction* action, struct sigaction* old) {
    static sigaction_function system_sigaction;
    if (system_sigaction == NULL)
        system_sigaction = (sigaction_function)dlsym(RTLD_NEXT, "sigaction");

    int wrap = action != NULL && fixed_signal(sig) && (action->sa_flags & SA_SIGINFO) &&
               action->sa_handler != SIG_DFL && action->sa_handler != SIG_IGN;
    info_handler previous = fixed_signal(sig) ? handlers[sig] : NULL;
    struct sigaction installed;
    if (wrap) {
        installed = *action;
        installed.sa_sigaction = fault_entry;
        handlers[sig] = action->sa_sigaction;
        action = &installed;
    }
    int result = system_sigaction(sig, action, old);
    if (result != 0 && wrap)
        handlers[sig] = previous;
    if (result == 0 && old != NULL && old->sa_sigaction == fault_entry)
        old->sa_sigaction = previous;
    return result;
}
