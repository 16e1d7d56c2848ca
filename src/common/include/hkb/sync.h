// Threads meeting: locks usable with std::lock_guard / std::unique_lock, the
// ownership of a (named) mutex for a scope, an owned event, and a deadline
// that bounds a series of waits. Member names follow the standard library's
// vocabulary (lock, get, reset), as in hkb/unique.h.
#pragma once

#include <windows.h>

#include "hkb/unique.h"

namespace hkb {

// A slim reader/writer lock: exclusive for writers (std::lock_guard,
// std::unique_lock), shared among readers (std::shared_lock). Needs no
// clean-up, so it may live in a static of a DLL and be used until the module
// is unloaded. Not recursive in either mode: a thread that holds it must not
// take it again.
class SrwLock {
 public:
  SrwLock() noexcept = default;
  SrwLock(const SrwLock&) = delete;
  SrwLock& operator=(const SrwLock&) = delete;
  void lock() noexcept { ::AcquireSRWLockExclusive(&m_lock); }
  bool try_lock() noexcept { return ::TryAcquireSRWLockExclusive(&m_lock) != 0; }
  void unlock() noexcept { ::ReleaseSRWLockExclusive(&m_lock); }
  void lock_shared() noexcept { ::AcquireSRWLockShared(&m_lock); }
  bool try_lock_shared() noexcept { return ::TryAcquireSRWLockShared(&m_lock) != 0; }
  void unlock_shared() noexcept { ::ReleaseSRWLockShared(&m_lock); }

 private:
  SRWLOCK m_lock = SRWLOCK_INIT;
};

// A critical section: a lock that the thread holding it may take again, for
// code that can be re-entered on one thread (a window procedure that runs
// inside a call it made itself).
class RecursiveLock {
 public:
  RecursiveLock() noexcept { ::InitializeCriticalSection(&m_section); }
  RecursiveLock(const RecursiveLock&) = delete;
  RecursiveLock& operator=(const RecursiveLock&) = delete;
  ~RecursiveLock() { ::DeleteCriticalSection(&m_section); }
  void lock() noexcept { ::EnterCriticalSection(&m_section); }
  bool try_lock() noexcept { return ::TryEnterCriticalSection(&m_section) != 0; }
  void unlock() noexcept { ::LeaveCriticalSection(&m_section); }

 private:
  CRITICAL_SECTION m_section;
};

// Waits for a mutex (bounded) and releases it at the end of the scope when
// the wait gave ownership (WAIT_OBJECT_0 or WAIT_ABANDONED).
class MutexOwner {
 public:
  MutexOwner(HANDLE mutex, DWORD timeoutMs) noexcept
      : m_mutex(mutex), m_wait(mutex ? ::WaitForSingleObject(mutex, timeoutMs) : WAIT_FAILED) {}
  MutexOwner(const MutexOwner&) = delete;
  MutexOwner& operator=(const MutexOwner&) = delete;
  ~MutexOwner() {
    if (owns()) ::ReleaseMutex(m_mutex);
  }
  bool owns() const noexcept { return m_wait == WAIT_OBJECT_0 || m_wait == WAIT_ABANDONED; }
  DWORD wait_result() const noexcept { return m_wait; }

 private:
  HANDLE m_mutex;
  DWORD m_wait;
};

// An event owned by the object; empty until created.
class Event {
 public:
  Event() noexcept = default;
  // A new event (named when `name` is given: an existing one is opened).
  // Empty when the system refuses it.
  static Event create(bool manualReset, bool initiallySet = false, const wchar_t* name = nullptr) noexcept {
    return Event(::CreateEventW(nullptr, manualReset, initiallySet, name));
  }
  explicit operator bool() const noexcept { return static_cast<bool>(m_handle); }
  HANDLE get() const noexcept { return m_handle.get(); }
  bool set() const noexcept { return ::SetEvent(m_handle.get()) != 0; }
  bool reset() const noexcept { return ::ResetEvent(m_handle.get()) != 0; }
  // WAIT_OBJECT_0 when the event is set within the time; an empty event is
  // never set.
  DWORD wait(DWORD timeoutMs) const noexcept {
    return m_handle ? ::WaitForSingleObject(m_handle.get(), timeoutMs) : WAIT_FAILED;
  }
  bool is_set() const noexcept { return wait(0) == WAIT_OBJECT_0; }

 private:
  explicit Event(HANDLE handle) noexcept : m_handle(handle) {}
  UniqueHandle m_handle;
};

// One time limit for a series of waits: each wait gets what is left.
class Deadline {
 public:
  explicit Deadline(DWORD milliseconds) noexcept : m_end(::GetTickCount64() + milliseconds) {}
  DWORD remaining() const noexcept {
    const ULONGLONG now = ::GetTickCount64();
    return now >= m_end ? 0 : static_cast<DWORD>(m_end - now);
  }
  bool passed() const noexcept { return remaining() == 0; }

 private:
  ULONGLONG m_end;
};

}  // namespace hkb
