// The debug log and the registry settings.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "app_name_list.h"
#include "hkbh_log.h"
#include "hkbh_reg.h"
#include "hkbtest/harness.h"
#include "support.h"

namespace {

using hkbtest::RegData;
using hkbtest::RegDword;
using hkbtest::RegSz;
using hkbtest::ScopedRegValue;

std::optional<RegData> Setting(std::optional<RegData> data) { return data; }

// The log switched on the way an initialization switches it, with
// LOCALAPPDATA pointing into a folder of the test's own.
class LogOn : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(m_root.path().empty());
    m_debug.emplace(HKEY_LOCAL_MACHINE, kHkbhSettingsKey, L"DebugLog", Setting(RegDword(1)));
    m_local.emplace(L"LOCALAPPDATA", m_root.path());
    HkbhSetLogSwitch(CHkbhReg::IsDebugLogOn());
    ASSERT_TRUE(HkbhIsLogSwitchOn());
    ASSERT_TRUE(HkbhBuildLogPath());
    wchar_t base[kHkbhPathChars];
    ASSERT_TRUE(HkbhGetExecutableBaseName(base));
    m_folder = m_root.path() + L"\\ZEV\\HkbHelper\\" + base;
    ASSERT_TRUE(hkbhtest::MakeFolders(m_folder));
  }
  void TearDown() override { HkbhSetLogSwitch(FALSE); }
  std::wstring LogFile() const { return m_folder + L"\\HkbHelperLog.txt"; }
  std::string LogText() const { return hkbtest::ReadFileBytes(LogFile()); }

  hkbhtest::ScopedFolder m_root;
  std::optional<ScopedRegValue> m_debug;
  std::optional<hkbtest::ScopedEnv> m_local;
  std::wstring m_folder;
};

// Catalogue lookups answer alike with the log on (every record compared, each
// comparison traced) and off (looked up by name), through adds made either
// way, a clear and adds after it, in other letter case.
TEST_F(LogOn, CatalogueLookupsAnswerAlikeWithTheLogOnAndOff) {
  enum Op { kAddShortcut, kAddPackage, kHasShortcut, kPackage, kClear };
  struct Step {
    Op op;
    const wchar_t* name;
    int value;  // the add's HRESULT; the lookup's answer (a package's major version, 0 for none)
  };
  const Step steps[] = {
      {kAddShortcut, L"C:\\Start\\Notes.lnk", S_OK},
      {kAddShortcut, L"C:\\Start\\Mail.lnk", S_OK},
      {kAddShortcut, L"c:\\start\\NOTES.LNK", S_FALSE},
      {kAddShortcut, L"C:\\Start\\\x00c9t\x00e9.lnk", S_OK},
      {kHasShortcut, L"C:\\START\\mail.lnk", 1},
      {kHasShortcut, L"C:\\Start\\Other.lnk", 0},
      {kHasShortcut, L"C:\\Start\\\x00e9T\x00c9.lnk", 0},  // only A-Z fold
      {kAddPackage, L"Fam_A", 1},
      {kAddPackage, L"Fam_B", 2},
      {kAddPackage, L"Fam_A", 3},
      {kPackage, L"Fam_A", 1},
      {kPackage, L"fam_a", 0},
      {kPackage, L"Fam_B", 2},
      {kPackage, L"Fam_C", 0},
      {kClear, L"", 0},
      {kHasShortcut, L"C:\\Start\\Notes.lnk", 0},
      {kPackage, L"Fam_A", 0},
      {kAddShortcut, L"C:\\START\\NOTES.lnk", S_OK},
      {kAddPackage, L"Fam_A", 4},
      {kHasShortcut, L"c:\\start\\notes.LNK", 1},
      {kPackage, L"Fam_A", 4},
      {kAddShortcut, L"C:\\Start\\Notes.lnk", S_FALSE},
  };
  CHkbhAppNameList list;
  bool log = false;
  for (const Step& s : steps) {
    const std::string what = hkbtest::Utf8(s.name);
    switch (s.op) {
      case kAddShortcut:
      case kAddPackage:
        log = !log;  // adds are made alternately with the log on and off
        HkbhSetLogSwitch(log ? TRUE : FALSE);
        if (s.op == kAddShortcut)
          EXPECT_EQ(list.AddDesktopApp(L"x", s.name), s.value) << what;
        else
          list.AddMetroPackage(std::make_unique<CHkbhPackage>(
              s.name, L"", L"", HkbhVersion{static_cast<uint16_t>(s.value), 0, 0, 0}, FALSE, TRUE));
        break;
      case kClear: list.Clear(); break;
      case kHasShortcut:
      case kPackage:
        for (const BOOL on : {TRUE, FALSE}) {
          HkbhSetLogSwitch(on);
          const size_t before = LogText().size();
          int answer = 0;
          if (s.op == kHasShortcut) {
            answer = list.IsInDesktopAppList(s.name);
          } else {
            const CHkbhPackage* found = list.GetPackage(s.name);
            answer = found ? found->Version().major : 0;
          }
          EXPECT_EQ(answer, s.value) << what << (on ? " log on" : " log off");
          // With the log on every record is asked; with it off nothing is written.
          const std::string written = LogText().substr(before);
          const char* compare =
              s.op == kHasShortcut ? "]CHkbhDesktopApp::IsSameShortcut(" : "]CHkbhPackage::IsThisPackage(";
          size_t asked = 0;
          for (size_t at = written.find(compare); at != std::string::npos; at = written.find(compare, at + 1))
            ++asked;
          const size_t records = s.op == kHasShortcut ? list.DesktopAppCount() : list.PackageCount();
          if (!on)
            EXPECT_EQ(written, "") << what;
          else if (s.value == 0)
            EXPECT_EQ(asked, records) << what << ": a miss asks every record";
          else
            EXPECT_GE(asked, 1u) << what;
        }
        break;
    }
  }
}

std::string LocalStamp() {
  SYSTEMTIME t;
  ::GetLocalTime(&t);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d/%02d/%02d %02d:%02d:%02d.%03d", t.wYear, t.wMonth, t.wDay, t.wHour,
                t.wMinute, t.wSecond, t.wMilliseconds);
  return buf;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    out.push_back(text.substr(start, end - start));
  if (start < text.size()) out.push_back(text.substr(start));  // an unterminated rest
  return out;
}

TEST_F(LogOn, EntriesCarryTheLocalTimeStampAndAreAppended) {
  const std::wstring expected_path = m_folder + L"\\HkbHelperLog.txt";
  wchar_t path[kHkbhPathChars];
  HkbhGetLogPath(path);
  EXPECT_EQ(std::wstring(path), expected_path);

  const std::string before = LocalStamp();
  EXPECT_EQ(WriteLog("%S(%S, %d) IN\r\n", L"CHkbhTest::Entry", L"arg", 7), 1);
  EXPECT_EQ(WriteLog("%S OUT(0x%08X)\r\n", L"CHkbhTest::Entry", 0x80004005u), 1);
  const std::string after = LocalStamp();

  const std::string text = LogText();
  ASSERT_EQ(text.rfind("[", 0), 0u) << "no byte-order mark, entries from the start: " << text;
  const std::vector<std::string> lines = Lines(text);
  ASSERT_EQ(lines.size(), 2u) << text;
  const std::regex entry(R"(\[(\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}\.\d{3})\](.*))");
  const char* messages[] = {"CHkbhTest::Entry(arg, 7) IN", "CHkbhTest::Entry OUT(0x80004005)"};
  for (size_t i = 0; i < lines.size(); ++i) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[i], m, entry)) << lines[i];
    EXPECT_GE(m[1].str(), before);
    EXPECT_LE(m[1].str(), after);
    EXPECT_EQ(m[2].str(), messages[i]);
  }
}

TEST_F(LogOn, SettingsGettersTraceTheirNameAndResult) {
  ScopedRegValue interval(HKEY_LOCAL_MACHINE, kHkbhSettingsKey, L"RefreshInterval", Setting(RegDword(15)));
  EXPECT_EQ(CHkbhReg::GetRefreshInterval(), 15u);
  const std::string text = LogText();
  EXPECT_NE(text.find("]CHkbhReg::GetRefreshInterval IN\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("]CHkbhReg::GetDWORDRegVal OUT(1)\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("]CHkbhReg::GetRefreshInterval OUT(15)\r\n"), std::string::npos) << text;
}

TEST_F(LogOn, LongMessageIsCutToTheEntryBufferAndStillEndsItsLine) {
  const std::string message(2000, 'x');
  EXPECT_EQ(WriteLog("%s tail\r\n", message.c_str()), 1);
  EXPECT_EQ(WriteLog("next\r\n"), 1);
  const std::vector<std::string> lines = Lines(LogText());
  ASSERT_EQ(lines.size(), 2u);
  const size_t stamp = std::string("[2000/01/01 00:00:00.000]").size();
  // 1,023 bytes of message at most, the last two of them CR LF.
  EXPECT_EQ(lines[0].size(), stamp + kHkbhLogEntryBytes - 3);
  EXPECT_EQ(lines[0].substr(stamp), std::string(kHkbhLogEntryBytes - 3, 'x'));
  EXPECT_EQ(lines[1].substr(stamp), "next");
}

TEST_F(LogOn, WideArgumentsAreWrittenInTheSystemCodePage) {
  const std::wstring name = L"\x65e5\x672c Notes \x00e9";
  EXPECT_EQ(WriteLog("%S(%S) IN\r\n", L"CHkbhTest::Wide", name.c_str()), 1);
  char narrow[64] = {};
  const char* replacement = ::GetACP() == CP_UTF8 ? nullptr : "?";
  ::WideCharToMultiByte(CP_ACP, 0, name.c_str(), -1, narrow, sizeof narrow, replacement, nullptr);
  const std::vector<std::string> lines = Lines(LogText());
  ASSERT_EQ(lines.size(), 1u);
  // Nothing after a character outside the code page is lost.
  EXPECT_EQ(lines[0].substr(lines[0].find(']') + 1), std::string("CHkbhTest::Wide(") + narrow + ") IN");
}

TEST_F(LogOn, EntriesOfConcurrentThreadsAreAllKept) {
  constexpr int kThreads = 4;
  constexpr int kEntries = 150;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kEntries; ++i) WriteLog("thread %d entry %03d\r\n", t, i);
    });
  }
  for (auto& th : threads) th.join();
  const std::string text = LogText();
  // Stamp and message are two writes, so entries may interleave, but none
  // may overwrite another.
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kEntries; ++i) {
      char msg[64];
      std::snprintf(msg, sizeof msg, "thread %d entry %03d\r\n", t, i);
      ASSERT_NE(text.find(msg), std::string::npos) << "lost: " << msg;
    }
  }
  const size_t stamp = std::string("[2000/01/01 00:00:00.000]").size();
  EXPECT_EQ(text.size(), static_cast<size_t>(kThreads * kEntries) *
                             (stamp + std::string("thread 0 entry 000\r\n").size()));
}

TEST_F(LogOn, NullFormatOrMissingFolderDropsTheEntry) {
  EXPECT_EQ(WriteLog(nullptr), 0);
  ASSERT_TRUE(::RemoveDirectoryW(m_folder.c_str()));
  EXPECT_EQ(WriteLog("lost\r\n"), 0);
  EXPECT_FALSE(hkbtest::FileExists(m_folder)) << "the log writer never creates its folder";
}

TEST(LogOff, NothingIsWrittenWhileTheSwitchIsOff) {
  struct Case {
    const char* what;
    std::optional<RegData> value;
  };
  const Case cases[] = {
      {"DebugLog 0", RegDword(0)}, {"DebugLog missing", std::nullopt}, {"DebugLog as text", RegSz(L"1")}};
  for (const Case& c : cases) {
    hkbhtest::ScopedFolder root;
    hkbtest::ScopedEnv local(L"LOCALAPPDATA", root.path());
    ScopedRegValue debug(HKEY_LOCAL_MACHINE, kHkbhSettingsKey, L"DebugLog", c.value);
    HkbhSetLogSwitch(CHkbhReg::IsDebugLogOn());
    EXPECT_FALSE(HkbhIsLogSwitchOn()) << c.what;
    wchar_t base[kHkbhPathChars];
    ASSERT_TRUE(HkbhGetExecutableBaseName(base));
    const std::wstring folder = root.path() + L"\\ZEV\\HkbHelper\\" + base;
    ASSERT_TRUE(hkbhtest::MakeFolders(folder));
    EXPECT_EQ(WriteLog("%S IN\r\n", L"CHkbhTest::Off"), 1) << c.what;
    EXPECT_FALSE(hkbtest::FileExists(folder + L"\\HkbHelperLog.txt")) << c.what;
    EXPECT_FALSE(hkbtest::FileExists(L"HkbHelperLog.txt")) << c.what;
  }
}

TEST(LogPath, KeepsItsPreviousValueWhenLocalAppDataDoesNotFit) {
  wchar_t path[kHkbhPathChars];
  HkbhGetLogPath(path);
  EXPECT_EQ(std::wstring(path), L"HkbHelperLog.txt");
  {
    hkbtest::ScopedEnv local(L"LOCALAPPDATA", L"C:\\" + std::wstring(300, L'a'));
    EXPECT_FALSE(HkbhBuildLogPath());
  }
  {
    hkbtest::ScopedEnv local(L"LOCALAPPDATA",
                             L"C:\\" + std::wstring(220, L'a'));  // fits alone, not with the rest
    EXPECT_FALSE(HkbhBuildLogPath());
  }
  HkbhGetLogPath(path);
  EXPECT_EQ(std::wstring(path), L"HkbHelperLog.txt");
}

TEST(LogPath, ExecutableBaseNameIsCutAtItsFirstDot) {
  // A separate process whose executable is named Btn.Svc.exe.
  hkbhtest::ScopedFolder root;
  const std::wstring exe = root.file(L"Btn.Svc.exe");
  ASSERT_TRUE(::CopyFileW(hkbtest::StandinFile(L"hkbh_tool.exe").c_str(), exe.c_str(), FALSE));
  const std::wstring folder = root.path() + L"\\ZEV\\HkbHelper\\Btn";
  ASSERT_TRUE(hkbhtest::MakeFolders(folder));
  hkbtest::ScopedEnv local(L"LOCALAPPDATA", root.path());
  ScopedRegValue debug(HKEY_LOCAL_MACHINE, kHkbhSettingsKey, L"DebugLog", Setting(RegDword(1)));
  EXPECT_EQ(hkbhtest::RunProgram(exe, L"log from-btn"), 0u);
  const std::string text = hkbtest::ReadFileBytes(folder + L"\\HkbHelperLog.txt");
  EXPECT_NE(text.find("]from-btn\r\n"), std::string::npos) << text;
}

struct SettingCase {
  const char* what;
  const wchar_t* value;
  std::optional<RegData> data;
  DWORD (*getter)();
  DWORD expected;
};

TEST(Settings, RegDwordValuesCountOthersGiveTheDefault) {
  const auto qword = [] {
    const ULONGLONG v = 5;
    return hkbtest::RegBinary(&v, sizeof v, REG_QWORD);
  };
  const DWORD four = 5;
  const SettingCase cases[] = {
      {"interval set", L"RefreshInterval", RegDword(30), &CHkbhReg::GetRefreshInterval, 30},
      {"interval 0", L"RefreshInterval", RegDword(0), &CHkbhReg::GetRefreshInterval, 0},
      {"interval missing", L"RefreshInterval", std::nullopt, &CHkbhReg::GetRefreshInterval, 720},
      {"interval as text", L"RefreshInterval", RegSz(L"30"), &CHkbhReg::GetRefreshInterval, 720},
      {"interval as 8 bytes", L"RefreshInterval", qword(), &CHkbhReg::GetRefreshInterval, 720},
      {"interval as binary", L"RefreshInterval", hkbtest::RegBinary(&four, sizeof four),
       &CHkbhReg::GetRefreshInterval, 720},
      {"clipboard wait set", L"ClearClipboardWaitTime", RegDword(250), &CHkbhReg::GetClearClipboardWaitTime,
       250},
      {"clipboard wait missing", L"ClearClipboardWaitTime", std::nullopt,
       &CHkbhReg::GetClearClipboardWaitTime, 1000},
      {"reader 0", L"ManifestReaderSetting", RegDword(0), &CHkbhReg::GetManifestReaderSetting, 0},
      {"reader 1", L"ManifestReaderSetting", RegDword(1), &CHkbhReg::GetManifestReaderSetting, 1},
      {"reader 2", L"ManifestReaderSetting", RegDword(2), &CHkbhReg::GetManifestReaderSetting, 1},
      {"reader missing", L"ManifestReaderSetting", std::nullopt, &CHkbhReg::GetManifestReaderSetting, 1},
  };
  for (const SettingCase& c : cases) {
    ScopedRegValue value(HKEY_LOCAL_MACHINE, kHkbhSettingsKey, c.value, c.data);
    ASSERT_TRUE(value.ok()) << c.what;
    EXPECT_EQ(c.getter(), c.expected) << c.what;
  }
}

TEST(Settings, DebugLogIsOnForAnyNonZeroDword) {
  for (DWORD v : {1u, 2u, 0xFFFFFFFFu}) {
    ScopedRegValue debug(HKEY_LOCAL_MACHINE, kHkbhSettingsKey, L"DebugLog", Setting(RegDword(v)));
    EXPECT_TRUE(CHkbhReg::IsDebugLogOn()) << v;
  }
  ScopedRegValue off(HKEY_LOCAL_MACHINE, kHkbhSettingsKey, L"DebugLog", Setting(RegDword(0)));
  EXPECT_FALSE(CHkbhReg::IsDebugLogOn());
}

TEST(Settings, ReadEachTimeNeverCachedNeverWritten) {
  {
    ScopedRegValue interval(HKEY_LOCAL_MACHINE, kHkbhSettingsKey, L"RefreshInterval", Setting(RegDword(1)));
    EXPECT_EQ(CHkbhReg::GetRefreshInterval(), 1u);
  }
  {
    ScopedRegValue interval(HKEY_LOCAL_MACHINE, kHkbhSettingsKey, L"RefreshInterval", Setting(RegDword(2)));
    EXPECT_EQ(CHkbhReg::GetRefreshInterval(), 2u);
  }
  // Without the key at all, the defaults; and reading creates nothing.
  ASSERT_FALSE(hkbtest::KeyExists(HKEY_LOCAL_MACHINE, kHkbhSettingsKey));
  EXPECT_EQ(CHkbhReg::GetRefreshInterval(), 720u);
  EXPECT_EQ(CHkbhReg::GetClearClipboardWaitTime(), 1000u);
  EXPECT_EQ(CHkbhReg::GetManifestReaderSetting(), 1u);
  EXPECT_FALSE(CHkbhReg::IsDebugLogOn());
  EXPECT_FALSE(hkbtest::KeyExists(HKEY_LOCAL_MACHINE, kHkbhSettingsKey));
}

TEST(Settings, ArgumentErrorsGiveFalse) {
  ScopedRegValue debug(HKEY_LOCAL_MACHINE, kHkbhSettingsKey, L"DebugLog", Setting(RegDword(1)));
  DWORD v = 0;
  EXPECT_FALSE(CHkbhReg::GetDWORDRegVal(nullptr, &v));
  EXPECT_FALSE(CHkbhReg::GetDWORDRegVal(L"", &v));
  EXPECT_FALSE(CHkbhReg::GetDWORDRegVal(L"DebugLog", nullptr));
  EXPECT_TRUE(CHkbhReg::GetDWORDRegVal(L"DebugLog", &v));
  EXPECT_EQ(v, 1u);
}

}  // namespace
