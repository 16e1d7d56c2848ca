/* Preloaded into Wine's 32-bit loader when it runs under qemu's user-mode
   emulator. qemu delivers a guest page fault as SIGSEGV but leaves the trap
   number in the signal context unset (-1, seen with qemu 10; it does fill in
   the page-fault error code), and Wine classifies a SIGSEGV by that number:
   every access violation (and every guard-page hit) would become an illegal
   instruction. This library wraps the SIGSEGV handler that Wine installs and
   fills in the page-fault trap number (14) when it is missing (-1, or 0: a
   divide error raises SIGFPE, never SIGSEGV), so a real trap number is never
   changed.

   Freestanding on purpose: it is built with the 64-bit compiler for i386
   without 32-bit C headers, and linked against the i386 C library that the
   32-bit Wine packages bring. Layouts below are those of i386 glibc. */

#define SIGSEGV_NUMBER 11
#define SA_SIGINFO_FLAG 4
#define TRAP_PAGE_FAULT 14
/* ucontext_t: uc_flags, uc_link, uc_stack (3 words), then mcontext's gregs. */
#define GREGS_OFFSET 20
#define REG_TRAPNO_INDEX 12

typedef void (*info_handler)(int, void*, void*);

struct i386_sigaction {
  info_handler handler; /* sa_handler / sa_sigaction */
  unsigned long mask[32];
  int flags;
  void (*restorer)(void);
};

extern void* dlsym(void* handle, const char* name);
extern int unsetenv(const char* name);
#define RTLD_NEXT ((void*)-1L)

static int (*real_sigaction)(int, const struct i386_sigaction*, struct i386_sigaction*);
static info_handler wine_segv_handler;

static void segv_with_trap_number(int sig, void* info, void* context) {
  unsigned long* gregs = (unsigned long*)((char*)context + GREGS_OFFSET);
  if (gregs[REG_TRAPNO_INDEX] == 0 || gregs[REG_TRAPNO_INDEX] == ~0UL)
    gregs[REG_TRAPNO_INDEX] = TRAP_PAGE_FAULT;
  wine_segv_handler(sig, info, context);
}

int sigaction(int sig, const struct i386_sigaction* act, struct i386_sigaction* old) {
  if (!real_sigaction) real_sigaction = dlsym(RTLD_NEXT, "sigaction");
  if (sig == SIGSEGV_NUMBER && act && (act->flags & SA_SIGINFO_FLAG) &&
      (unsigned long)act->handler > 1 /* not SIG_DFL or SIG_IGN */) {
    struct i386_sigaction wrapped = *act;
    wine_segv_handler = act->handler;
    wrapped.handler = segv_with_trap_number;
    return real_sigaction(sig, &wrapped, old);
  }
  return real_sigaction(sig, act, old);
}

/* Children (a 64-bit program started from a 32-bit one) must not see it. */
__attribute__((constructor)) static void forget_preload(void) { unsetenv("LD_PRELOAD"); }
