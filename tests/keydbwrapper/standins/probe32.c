/* A 32-bit program for the tests of the machine's 32-bit set-up (the server
   under test is a 32-bit program, started from 64-bit clients).
     probe32.exe         ends with 32
     probe32.exe read    ends with 32 when IsBadReadPtr reports an unmapped
                         address as bad (it catches access violations only)
     probe32.exe write   writes to an unmapped address; a vectored handler
                         ends the process with the exception code it saw
     probe32.exe guard   ends with 32 when the first touch of a guard page
                         raises a guard-page exception and the second does
                         not */
#include <windows.h>

static volatile LONG s_guard_hits;

static LONG CALLBACK EndWithCode(EXCEPTION_POINTERS* e) {
  ExitProcess(e->ExceptionRecord->ExceptionCode);
  return EXCEPTION_CONTINUE_SEARCH;
}

static LONG CALLBACK CountGuardHits(EXCEPTION_POINTERS* e) {
  if (e->ExceptionRecord->ExceptionCode != STATUS_GUARD_PAGE_VIOLATION)
    ExitProcess(e->ExceptionRecord->ExceptionCode);
  InterlockedIncrement(&s_guard_hits);
  return EXCEPTION_CONTINUE_EXECUTION; /* the guard is gone now: the access is made again */
}

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 32;
  if (!lstrcmpW(argv[1], L"read")) return IsBadReadPtr((const void*)16, 4) ? 32 : 1;
  if (!lstrcmpW(argv[1], L"write")) {
    int* volatile unmapped = (int*)16;
    AddVectoredExceptionHandler(1, EndWithCode);
    *unmapped = 1;
    return 2;
  }
  if (!lstrcmpW(argv[1], L"guard")) {
    volatile char* page = VirtualAlloc(NULL, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE | PAGE_GUARD);
    if (!page) return 3;
    AddVectoredExceptionHandler(1, CountGuardHits);
    page[0] = 1;
    page[1] = 2;
    return s_guard_hits == 1 && page[0] == 1 ? 32 : 4;
  }
  return 5;
}
