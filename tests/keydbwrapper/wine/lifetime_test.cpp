// The server's own end: 5 s after the last release (plus its 1 s pause),
// unless an object comes back in between; and the crossing of bitness.
#include <gtest/gtest.h>

#include <cstdio>

#include "hkbtest/harness.h"
#include "server_support.h"

namespace {

using keydbtest::InstalledServer;

constexpr DWORD kCeilingMs = 60000;
// Idle time plus the pause after revoking, less the tick's granularity.
constexpr ULONGLONG kShortestEndMs = 5000 + 1000 - 50;

bool Running(DWORD pid) { return !keydbtest::WaitForExit(pid, 0).has_value(); }

TEST(KeyDbLifetime, EndsFiveSecondsAfterTheLastReleaseUnlessAnObjectComesBack) {
  hkb::ComInit com;
  InstalledServer server;
  ASSERT_TRUE(server.ok());
  server.SetScenario("GetPathByID_LED 1 1 x\n");
  keydbtest::TextBuffer buf;

  // One object, one call, release.
  hkb::ComPtr<IkeyDbObj> obj = keydbtest::CreateObject();
  ASSERT_TRUE(obj);
  ASSERT_EQ(obj->GetPathByID_LEDWrapper(1, buf.units), S_OK);
  const DWORD first = server.LastServerPid();
  ASSERT_NE(first, 0u);
  obj.reset();
  const ULONGLONG released = ::GetTickCount64();
  ULONGLONG ended = 0;
  EXPECT_EQ(keydbtest::WaitForExit(first, kCeilingMs, &ended), std::optional<DWORD>(0));
  std::printf("server ended %llu ms after the last release\n", ended - released);
  EXPECT_GE(ended - released, kShortestEndMs);

  // Released, then created again at once: the same server serves it and
  // stays while the object lives, past the idle time.
  obj = keydbtest::CreateObject();
  ASSERT_TRUE(obj);
  ASSERT_EQ(obj->GetPathByID_LEDWrapper(1, buf.units), S_OK);
  const DWORD second = server.LastServerPid();
  EXPECT_NE(second, first);
  obj.reset();
  const ULONGLONG gap_start = ::GetTickCount64();
  obj = keydbtest::CreateObject();
  ASSERT_TRUE(obj);
  ASSERT_EQ(obj->GetPathByID_LEDWrapper(1, buf.units), S_OK);
  EXPECT_EQ(server.LastServerPid(), second);
  // Held well past the idle time that started with the release above.
  hkbtest::PumpUntil([&] { return ::GetTickCount64() - gap_start > kShortestEndMs + 2000; },
                     std::chrono::milliseconds(kCeilingMs));
  EXPECT_TRUE(Running(second)) << "the server ended while an object was alive";
  EXPECT_EQ(obj->GetPathByID_LEDWrapper(1, buf.units), S_OK);
  EXPECT_EQ(server.LastServerPid(), second);
  obj.reset();
  const ULONGLONG released_again = ::GetTickCount64();
  EXPECT_EQ(keydbtest::WaitForExit(second, kCeilingMs, &ended), std::optional<DWORD>(0));
  std::printf("server ended %llu ms after the second object's release\n", ended - released_again);
  EXPECT_GE(ended - released_again, kShortestEndMs);
}

// The calls above cross from this 64-bit process into a 32-bit one.
TEST(KeyDbLifetime, ShippedServerServesA64BitClientFromA32BitProcess) {
  hkb::ComInit com;
  InstalledServer server;
  ASSERT_TRUE(server.ok());
  server.SetScenario("GetPathByID_LED 1 1 x\n");
  hkb::ComPtr<IkeyDbObj> obj = keydbtest::CreateObject();
  ASSERT_TRUE(obj);
  keydbtest::TextBuffer buf;
  ASSERT_EQ(obj->GetPathByID_LEDWrapper(1, buf.units), S_OK);
  hkb::UniqueHandle p(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, server.LastServerPid()));
  BOOL wow64 = FALSE;
  ASSERT_TRUE(p && ::IsWow64Process(p.get(), &wow64));
  EXPECT_TRUE(wow64);
}

// The server is a 32-bit program: this machine starts 32-bit programs from a
// 64-bit one, and their memory faults reach them as Windows reports them
// (the server's callers and KeyDb.dll rely on structured exceptions).
TEST(KeyDbLifetime, ThirtyTwoBitProgramsRunAndSeeTheirMemoryFaults) {
  const struct {
    const wchar_t* args;
    DWORD code;
  } cases[] = {{L"", 32}, {L"read", 32}, {L"write", EXCEPTION_ACCESS_VIOLATION}, {L"guard", 32}};
  for (const auto& c : cases)
    EXPECT_EQ(keydbtest::RunProbe32(c.args), std::optional<DWORD>(c.code))
        << "probe32.exe " << hkbtest::Utf8(c.args);
}

}  // namespace
