// Damaged XML through the shipped library, where it reads it: catalogue files
// at the catalogue's place under LOCALAPPDATA (loaded by HkbhInitialize) and
// package manifests in the install folders the package manager names (read by
// HkbhGetAppDisplayNameByPFN, and by the refresh for a new and for a changed
// package). Seeds are a catalogue written by the library's own writer and a
// manifest as Store packages carry it; each damaged copy is loaded with a
// time limit, and no load may crash or hang. Now and then a whole refresh
// runs in a process of its own on a damaged catalogue; the file it saves must
// hold every record that stood complete before the damage.
//
// HKBH_XML_FILES: damaged files of each kind (default 300); HKBH_XML_SEED:
// the run's seed (default 1); HKBH_XML_OWNER_EVERY: a refresh every that many
// catalogues (default: three in all).
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app_name_list.h"
#include "pm_support.h"
#include "xml_mutation.h"

namespace {

using hkbhtest::HostProcess;
using hkbhtest::Mutant;
using hkbhtest::ScopedFolder;
using Lines = std::vector<std::string>;

constexpr wchar_t kWorker[] = L"hkbh_xml_worker";  // also its catalogue's base name
constexpr wchar_t kOwner[] = L"xmlowner";
constexpr char kChanged[] = "Fuzz.Changed_1a2b3c4d5e6f7";  // catalogued at 1.0.0.0, served at 2.0.0.0
constexpr char kNew[] = "Fuzz.New_1a2b3c4d5e6f7";
constexpr char kQuery[] = "Fuzz.Query_1a2b3c4d5e6f7";
constexpr uint64_t kBatch = 1000;

uint64_t Setting(const char* name, uint64_t fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::strtoull(v, nullptr, 10) : fallback;
}

struct Seed {
  std::string text;
  size_t closed = 0;               // where the root element is closed
  std::vector<size_t> package_at;  // where each reserved package is certain to be read
  std::vector<size_t> desktop_at;
  std::wstring path;
};

// Each record counts as read once the tag after it is complete.
std::vector<size_t> SafePoints(const std::string& t, const std::string& open, const std::string& close) {
  std::vector<size_t> starts;
  for (size_t at = t.find(open); at != std::string::npos; at = t.find(open, at + 1)) starts.push_back(at);
  starts.push_back(t.find(close));
  std::vector<size_t> out;
  for (size_t i = 1; i < starts.size(); ++i) out.push_back(t.find('>', starts[i]) + 1);
  return out;
}

// Every record reserved and not installed, so that a refresh writes each back
// as it was; the served package comes last.
Seed CatalogueSeed(const ScopedFolder& folder) {
  CHkbhAppNameList list;
  for (int p = 0; p < 14; ++p) {
    const std::wstring n = std::to_wstring(p);
    auto package = std::make_unique<CHkbhPackage>(L"Vendor.App" + n + L"_8wekyb3d8bbwe", L"", L"",
                                                  HkbhVersion{uint16_t(p), 1, 3, 2}, TRUE, FALSE);
    for (int a = 0; a < p % 4; ++a)
      package->AddApplication(std::make_unique<CHkbhMetroApp>(
          L"app " + n + L" & <" + std::to_wstring(a) + L">", L"short \"" + n + L"\"",
          a == 1 ? L"\x3042\x3057\x3059" : L"", a == 2 ? L"\x65e5\x672c" : L""));
    list.AddMetroPackage(std::move(package));
  }
  auto changed =
      std::make_unique<CHkbhPackage>(hkbtest::Wide(kChanged), L"", L"", HkbhVersion{1, 0, 0, 0}, FALSE, TRUE);
  changed->AddApplication(L"old name", L"old");
  list.AddMetroPackage(std::move(changed));
  for (int d = 0; d < 8; ++d) {
    const std::wstring n = std::to_wstring(d);
    list.AddDesktopApp(std::make_unique<CHkbhDesktopApp>(L"desktop " + n, L"C:\\Gone\\Program " + n + L".lnk",
                                                         d % 3 == 1 ? L"\x30c4\x30fc\x30eb " + n : L"",
                                                         d % 2 ? L"ruby" : L"", TRUE, FALSE, d % 4 == 3));
  }
  Seed s;
  s.path = folder.file(L"catalogue-seed.xml");
  if (FAILED(list.Save(s.path.c_str()))) return s;
  s.text = hkbtest::ReadFileBytes(s.path);
  s.closed = s.text.find("</Applications>") + 15;
  s.package_at = SafePoints(s.text, "<Package ", "</MetroApps>");
  s.package_at.pop_back();  // the served package may change
  s.desktop_at = SafePoints(s.text, "<DesktopApp ", "</DesktopApps>");
  return s;
}

std::string ManifestText(int applications) {
  std::string t =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
      "<Package xmlns=\"http://schemas.microsoft.com/appx/manifest/foundation/windows10\"\r\n"
      "  xmlns:uap=\"http://schemas.microsoft.com/appx/manifest/uap/windows10\" "
      "IgnorableNamespaces=\"uap\">\r\n"
      "  <Identity Name=\"Fuzz.Notes\" Publisher=\"CN=Example\" Version=\"2.0.0.0\" "
      "ProcessorArchitecture=\"x64\" />\r\n"
      "  <Properties>\r\n    <DisplayName>ms-resource:PackageName</DisplayName>\r\n"
      "    <PublisherDisplayName>Example</PublisherDisplayName>\r\n    <Logo>Assets\\Store.png</Logo>\r\n"
      "  </Properties>\r\n  <Resources>\r\n    <Resource Language=\"en-us\" />\r\n"
      "    <Resource Language=\"ja-jp\" />\r\n  </Resources>\r\n  <Applications>\r\n";
  const char* const names[] = {"Example Notes &amp; Clips", "ms-resource:AppName",
                               "ms-resource:///Names/Tile", "\xE3\x83\xA1\xE3\x83\xA2"};
  for (int a = 0; a < applications; ++a) {
    t += "    <Application Id=\"App" + std::to_string(a) +
         "\" Executable=\"Notes.exe\" EntryPoint=\"Notes.App\">\r\n"
         "      <uap:VisualElements DisplayName=\"" +
         std::string(names[a % 4]) +
         "\" Square150x150Logo=\"Assets\\Square.png\" Square44x44Logo=\"Assets\\Small.png\" "
         "Description=\"Notes\" BackgroundColor=\"transparent\">\r\n"
         "        <uap:DefaultTile ShortName=\"" +
         std::string(names[(a + 1) % 4]) +
         "\" Wide310x150Logo=\"Assets\\Wide.png\" />\r\n"
         "        <uap:SplashScreen Image=\"Assets\\Splash.png\" />\r\n      </uap:VisualElements>\r\n"
         "    </Application>\r\n";
  }
  return t + "  </Applications>\r\n</Package>\r\n";
}

Seed ManifestSeed(const ScopedFolder& folder, int applications) {
  Seed s;
  s.text = ManifestText(applications);
  s.closed = s.text.find("</Package>") + 10;
  s.path = folder.file(L"manifest-seed" + std::to_wstring(applications) + L".xml");
  hkbtest::WriteFileBytes(s.path, s.text);
  return s;
}

// Packages (P lines with their A lines) and desktop apps of a catalogue dump.
void Records(const Lines& dump, Lines& packages, Lines& desktops) {
  for (const std::string& line : dump) {
    if (line[0] == 'P') packages.push_back(line);
    if (line[0] == ' ' && !packages.empty()) packages.back() += "\n" + line;
    if (line[0] == 'D') desktops.push_back(line);
  }
}

size_t SafeCount(const std::vector<size_t>& safe, size_t at) {
  size_t n = 0;
  while (n < safe.size() && safe[n] <= at) ++n;
  return n;
}

struct Findings {
  uint64_t files = 0, failed = 0, crashes = 0, hangs = 0, broken = 0;
  // Wine's own XmlLite stops the process with an assertion on some inputs
  // (a four-byte "<?xm", for one) where the platform's returns an error: a
  // gap of the platform under test, counted and named, not the library's.
  uint64_t platform_asserts = 0, platform_skipped = 0;  // faults or assertions in XmlLite's code
  std::string platform_first;
};

void Report(const Findings& f) {
  if (f.platform_skipped > 0)
    std::printf(
        "known gap of Wine's XmlLite: %llu files in UTF-16 without a byte-order mark not "
        "loaded (its Read never returns on some of them)\n",
        (unsigned long long)f.platform_skipped);
  if (f.platform_asserts > 0)
    std::printf(
        "known gap of Wine's XmlLite: %llu files end the process with a fault or an assertion in its "
        "code; first: %s\n",
        (unsigned long long)f.platform_asserts, f.platform_first.c_str());
}

class XmlMutation : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_pm.ok() && m_visibility.ok());
    const auto folder = [&](const char* family) { return m_pm.folder().file(hkbtest::Wide(family)); };
    for (const char* f : {kChanged, kNew, kQuery}) ASSERT_TRUE(hkbhtest::MakeFolders(folder(f)));
    // Records of the stand-in are not needed: none is kept.
    m_pm.SetScenario("record\tnone\n" + hkbhtest::PackageLine(kChanged, "2.0.0.0", folder(kChanged)) +
                     hkbhtest::PackageLine(kNew, "1.0.0.0", folder(kNew)) +
                     hkbhtest::PackageLine(kQuery, "1.0.0.0", folder(kQuery)));
    m_worker = hkbtest::StandinFile(std::wstring(kWorker) + L".exe");
    m_run_seed = static_cast<uint32_t>(Setting("HKBH_XML_SEED", 1));
    m_files = Setting("HKBH_XML_FILES", 300);
  }
  std::wstring Manifest(const char* family) const {
    return m_pm.folder().file(hkbtest::Wide(family)) + L"\\AppxManifest.xml";
  }

  // Runs the worker over [first, first + count), one process per batch; a
  // crash or hang is reported with its index and the file is kept.
  void RunWorker(const wchar_t* mode, const Seed& seed, const std::wstring& target, const std::string& family,
                 Findings& f) {
    uint64_t kept = 0;
    for (uint64_t next = 0; next < m_files;) {
      const uint64_t count = std::min(kBatch, m_files - next);
      // Files of their own per batch: a worker that was ended may hold its handles a while.
      const std::wstring batch = std::wstring(mode) + L"-" + std::to_wstring(next);
      const std::wstring results = m_work.file(batch + L"-results.txt");
      const std::wstring errors = m_work.file(batch + L"-stderr.txt");
      const std::wstring args = std::wstring(mode) + L" \"" + hkbhtest::HkbHelperPath() + L"\" \"" +
                                seed.path + L"\" " + std::to_wstring(seed.closed) + L" \"" + target +
                                L"\" \"" + results + L"\" " + std::to_wstring(m_run_seed) + L" " +
                                std::to_wstring(next) + L" " + std::to_wstring(count) + L" " +
                                hkbtest::Wide(family);
      const DWORD code =
          hkbhtest::RunProgram(m_worker, args, 60000 + static_cast<DWORD>(count) * 2000, errors);
      ASSERT_NE(code, 2u) << "the worker could not start";
      // The index after the last one that finished, and the worker's last word.
      uint64_t done = next;
      std::string last;
      for (const std::string& line : Split(hkbtest::ReadFileBytes(results))) {
        last = line;
        if (line.rfind("skip ", 0) == 0) {
          done = std::strtoull(line.c_str() + 5, nullptr, 10) + 1;
          ++f.platform_skipped;
        }
        if (line[0] >= '0' && line[0] <= '9') {
          done = std::strtoull(line.c_str(), nullptr, 10) + 1;
          if (FAILED(std::strtoul(line.c_str() + line.find(' ') + 1, nullptr, 16))) ++f.failed;
        }
      }
      f.files += done - next;
      if (code == 0) {
        next += count;
        continue;
      }
      const Mutant m = hkbhtest::Mutate(seed.text, seed.closed, m_run_seed, done);
      const std::string error_text = hkbtest::ReadFileBytes(errors);
      const size_t assertion = error_text.find("Assertion failed");
      // Code of the platform's XmlLite that faulted or asserted: counted apart.
      const bool xmllite_fault =
          last.rfind("fault ", 0) == 0 && last.find(" in xmllite.dll") != std::string::npos;
      if (xmllite_fault || (code == 3 && assertion != std::string::npos &&
                            error_text.find("dlls/xmllite/") != std::string::npos)) {
        if (f.platform_asserts++ == 0)
          f.platform_first =
              "file " + std::to_string(done) + " (" + m.what + ", " + std::to_string(m.text.size()) +
              " bytes): " +
              (xmllite_fault ? last
                             : error_text.substr(assertion, error_text.find('\n', assertion) - assertion));
        f.files += 1;
        next = done + 1;
        continue;
      }
      ASSERT_FALSE(code == ~0u && last.empty()) << "the worker did not run at " << done;
      const std::wstring keep =
          hkbtest::ArtifactFile(L"hkbhelper-xml-" + std::wstring(mode) + L"-" + std::to_wstring(m_run_seed) +
                                L"-" + std::to_wstring(done) + L".xml");
      if (kept++ < 10) hkbtest::WriteFileBytes(keep, m.text);
      if (code == 13 || code == ~0u)
        ++f.hangs;
      else if (code == 14)
        ++f.broken;
      else
        ++f.crashes;
      ADD_FAILURE() << hkbtest::Utf8(mode) << " file " << done << " (" << m.what << "): exit code 0x"
                    << std::hex << code << std::dec << ", " << last << "; kept as " << hkbtest::Utf8(keep);
      f.files += 1;
      next = done + 1;
    }
  }

  static Lines Split(const std::string& text) {
    Lines out;
    size_t from = 0;
    for (size_t to; (to = text.find('\n', from)) != std::string::npos; from = to + 1)
      out.push_back(text.substr(from, to - from));
    return out;
  }

  // One refresh on a damaged catalogue, with damaged manifests for the new
  // and the changed package: the saved file keeps the records from before
  // the damage, as they were.
  void RefreshCycle(const Seed& catalogue, const Seed& manifest, uint64_t index, const Lines& packages,
                    const Lines& desktops) {
    Mutant m = hkbhtest::Mutate(catalogue.text, catalogue.closed, m_run_seed, index);
    while (hkbhtest::WineNeverFinishes(m.text))
      m = hkbhtest::Mutate(catalogue.text, catalogue.closed, m_run_seed, ++index);
    const std::wstring file = m_users.Catalogue(kOwner);
    ASSERT_TRUE(hkbtest::WriteFileBytes(file, m.text));
    for (const char* family : {kChanged, kNew})
      ASSERT_TRUE(hkbtest::WriteFileBytes(
          Manifest(family), hkbhtest::Mutate(manifest.text, manifest.closed, m_run_seed + 1, index).text));
    {
      HostProcess host(m_owner_exe, m_work);
      ASSERT_TRUE(host.started());
      const std::string init = host.WaitInitialized(90000);
      ASSERT_NE(init.find("thread=1"), std::string::npos) << "refresh role not taken: " << init;
      ASSERT_EQ(host.Stop(90000), 0u)
          << "catalogue " << index << " (" << m.what << ") did not end its refresh";
    }
    CHkbhAppNameList saved;
    ASSERT_EQ(saved.Load(file.c_str()), S_OK) << "the saved file reads back: " << index;
    Lines got_packages, got_desktops;
    Records(hkbhtest::Dump(saved), got_packages, got_desktops);
    const size_t p = SafeCount(catalogue.package_at, m.at), d = SafeCount(catalogue.desktop_at, m.at);
    ASSERT_GE(got_packages.size(), p) << index << " " << m.what;
    ASSERT_GE(got_desktops.size(), d) << index << " " << m.what;
    for (size_t i = 0; i < p; ++i) EXPECT_EQ(got_packages[i], packages[i]) << index << " " << m.what;
    for (size_t i = 0; i < d; ++i) EXPECT_EQ(got_desktops[i], desktops[i]) << index << " " << m.what;
    ++m_cycles;
  }

  hkbhtest::ScopedUserFolders m_users;
  hkbhtest::ScopedPackageManager m_pm;
  hkbtest::AppVisibilityStandin m_visibility;
  ScopedFolder m_work;
  std::wstring m_worker, m_owner_exe;
  uint32_t m_run_seed = 1;
  uint64_t m_files = 0;
  uint64_t m_cycles = 0;
};

TEST_F(XmlMutation, DamagedCataloguesLoadAndKeepTheirEarlierRecords) {
  const Seed seed = CatalogueSeed(m_work);
  ASSERT_FALSE(seed.text.empty());
  ASSERT_EQ(seed.package_at.size(), 14u);
  ASSERT_EQ(seed.desktop_at.size(), 8u);
  CHkbhAppNameList whole;
  ASSERT_EQ(whole.Load(seed.path.c_str()), S_OK);
  Lines packages, desktops;
  Records(hkbhtest::Dump(whole), packages, desktops);
  const Seed manifest = ManifestSeed(m_work, 3);

  // The refreshes first: each in a fresh process of its own.
  ULONGLONG start = ::GetTickCount64();
  m_owner_exe = m_work.file(std::wstring(kOwner) + L".exe");
  ASSERT_TRUE(::CopyFileW(hkbtest::StandinFile(L"hkbh_host.exe").c_str(), m_owner_exe.c_str(), FALSE));
  ASSERT_TRUE(hkbhtest::MakeFolders(m_users.CatalogueFolder(kOwner)));
  const uint64_t every = std::max<uint64_t>(1, Setting("HKBH_XML_OWNER_EVERY", m_files / 3));
  for (uint64_t i = 0; i < m_files; i += every) {
    RefreshCycle(seed, manifest, i, packages, desktops);
    if (HasFatalFailure()) return;
  }
  const double refresh_s = (::GetTickCount64() - start) / 1000.0;

  start = ::GetTickCount64();
  Findings f;
  ASSERT_TRUE(hkbhtest::MakeFolders(m_users.CatalogueFolder(kWorker)));
  RunWorker(L"load", seed, m_users.Catalogue(kWorker), "-", f);
  const double load_s = (::GetTickCount64() - start) / 1000.0;
  std::printf(
      "%llu damaged catalogues in %.1f s: %llu loads failed, %llu crashes, %llu hangs, %llu broken; "
      "%llu refreshes in %.1f s\n",
      (unsigned long long)f.files, load_s, (unsigned long long)f.failed, (unsigned long long)f.crashes,
      (unsigned long long)f.hangs, (unsigned long long)f.broken, (unsigned long long)m_cycles, refresh_s);
  Report(f);
  EXPECT_EQ(f.files, m_files);
}

TEST_F(XmlMutation, DamagedManifestsThroughTheDisplayNameQuery) {
  const Seed seed = ManifestSeed(m_work, 1);
  const ULONGLONG start = ::GetTickCount64();
  Findings f;
  RunWorker(L"name", seed, Manifest(kQuery), kQuery, f);
  std::printf(
      "%llu damaged manifests in %.1f s: %llu queries failed, %llu crashes, %llu hangs, %llu broken\n",
      (unsigned long long)f.files, (::GetTickCount64() - start) / 1000.0, (unsigned long long)f.failed,
      (unsigned long long)f.crashes, (unsigned long long)f.hangs, (unsigned long long)f.broken);
  Report(f);
  EXPECT_EQ(f.files, m_files);
}

}  // namespace
