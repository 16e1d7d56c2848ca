// Locks: an in-process lock usable with std::lock_guard / std::unique_lock,
// and the ownership of a (named) mutex for a scope.
#pragma once

#include <windows.h>

namespace hkb {

// A slim reader/writer lock taken exclusively; needs no clean-up, so it may
// live in a static of a DLL and be used until the module is unloaded.
class SrwLock {
 public:
  SrwLock() noexcept = default;
  SrwLock(const SrwLock&) = delete;
  SrwLock& operator=(const SrwLock&) = delete;
  void lock() noexcept { ::AcquireSRWLockExclusive(&m_lock); }
  bool try_lock() noexcept { return ::TryAcquireSRWLockExclusive(&m_lock) != 0; }
  void unlock() noexcept { ::ReleaseSRWLockExclusive(&m_lock); }

 private:
  SRWLOCK m_lock = SRWLOCK_INIT;
};

// Waits for a mutex (bounded) and releases it at the end of the scope when
// the wait gave ownership (WAIT_OBJECT_0 or WAIT_ABANDONED).
class MutexOwner {
 public:
  MutexOwner(HANDLE mutex, DWORD timeout_ms) noexcept
      : m_mutex(mutex), m_wait(mutex ? ::WaitForSingleObject(mutex, timeout_ms) : WAIT_FAILED) {}
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

}  // namespace hkb
