// The manifest reader: the XML walk with its forward searches, the
// "ms-resource:" references, the display-name query, the packaging-API path
// through a stand-in factory, and the catalogue's use of them.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app_name_list.h"
#include "hkbh_reg.h"
#include "hkbtest/harness.h"
#include "manifest_reader.h"
#include "support.h"

namespace {

using hkbhtest::ScopedFolder;
using Lines = std::vector<std::string>;

const wchar_t kFullName[] = L"Example.Notes_1.0.0.0_x64__1a2b3c4d5e6f7";
const wchar_t kName[] = L"Example.Notes";

// ---------------------------------------------------------------------------
// Manifest fixtures, written for these tests.

struct AppSpec {
  std::optional<std::string> display;
  std::optional<std::string> short_name;
  bool visual_elements = true;
  bool default_tile = true;
};

std::string Attr(const char* name, const std::optional<std::string>& value) {
  return value ? std::string(" ") + name + "=\"" + *value + "\"" : std::string();
}

std::string Manifest(const std::vector<AppSpec>& apps, const std::string& prefix = "m2:") {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
      "<Package xmlns=\"http://schemas.microsoft.com/appx/2010/manifest\" "
      "xmlns:m2=\"http://schemas.microsoft.com/appx/2013/manifest\">\r\n"
      "  <Identity Name=\"Example.Notes\" Publisher=\"CN=Example Test\" Version=\"1.0.0.0\" "
      "ProcessorArchitecture=\"x64\" />\r\n"
      "  <Properties>\r\n"
      "    <DisplayName>Example Package</DisplayName>\r\n"
      "    <PublisherDisplayName>Example</PublisherDisplayName>\r\n"
      "    <Logo>Assets\\StoreLogo.png</Logo>\r\n"
      "  </Properties>\r\n"
      "  <Applications>\r\n";
  int n = 0;
  for (const AppSpec& app : apps) {
    ++n;
    xml += "    <Application Id=\"App" + std::to_string(n) + "\" Executable=\"app" + std::to_string(n) +
           ".exe\" EntryPoint=\"Example.App\">\r\n";
    if (app.visual_elements) {
      xml += "      <" + prefix + "VisualElements" + Attr("DisplayName", app.display) +
             " Square150x150Logo=\"a.png\" Square30x30Logo=\"b.png\" Description=\"d\" "
             "ForegroundText=\"light\" BackgroundColor=\"#202020\">\r\n";
      if (app.default_tile)
        xml += "        <" + prefix + "DefaultTile" + Attr("ShortName", app.short_name) + " />\r\n";
      xml += "      </" + prefix + "VisualElements>\r\n";
    }
    xml += "    </Application>\r\n";
  }
  xml += "  </Applications>\r\n</Package>\r\n";
  return xml;
}

std::wstring WriteManifest(const ScopedFolder& folder, const std::string& text) {
  const std::wstring path = folder.file(L"AppxManifest.xml");
  EXPECT_TRUE(hkbtest::WriteFileBytes(path, text));
  return path;
}

CHkbhPackage NewPackage() {
  return CHkbhPackage(L"Example.Notes_1a2b3c4d5e6f7", kFullName, kName, {}, FALSE, TRUE);
}

Lines AppsOf(const CHkbhPackage& package) {
  Lines out;
  for (const auto& a : package.Apps())
    out.push_back(hkbtest::Utf8(a->DisplayName()) + "|" + hkbtest::Utf8(a->ShortName()));
  return out;
}

// The indirect-string resolution replaced for a test: records every source
// and answers the sources it knows.
class FakeResolution {
 public:
  explicit FakeResolution(std::map<std::wstring, std::wstring> answers) {
    s_answers = std::move(answers);
    s_calls.clear();
    m_saved = s_pfnLoadIndirectString;
    s_pfnLoadIndirectString = &Resolve;
  }
  ~FakeResolution() { s_pfnLoadIndirectString = m_saved; }
  FakeResolution(const FakeResolution&) = delete;
  FakeResolution& operator=(const FakeResolution&) = delete;
  const std::vector<std::wstring>& calls() const { return s_calls; }

 private:
  static HRESULT WINAPI Resolve(LPCWSTR source, LPWSTR out, UINT chars, void** reserved) {
    s_calls.push_back(source);
    if (reserved != nullptr || chars != kHkbhResolvedChars) return E_INVALIDARG;
    const auto it = s_answers.find(source);
    if (it == s_answers.end()) return E_FAIL;
    wcsncpy_s(out, chars, it->second.c_str(), _TRUNCATE);
    return S_OK;
  }
  static inline std::map<std::wstring, std::wstring> s_answers;
  static inline std::vector<std::wstring> s_calls;
  HkbhLoadIndirectStringFn m_saved;
};

std::wstring First(const std::wstring& kept) {
  return std::wstring(L"@{") + kFullName + L"?ms-resource://" + kName + L"/resources/" + kept + L"}";
}
std::wstring Second(const std::wstring& kept) {
  return std::wstring(L"@{") + kFullName + L"? ms-resource://" + kName + L"/" + kept + L"}";
}
std::wstring Rooted(const std::wstring& kept) {
  return std::wstring(L"@{") + kFullName + L"?ms-resource://" + kName + L"/" + kept + L"}";
}

// ---------------------------------------------------------------------------
// The XML walk.

TEST(ManifestXml, NamesOfEachApplicationByForwardSearch) {
  struct Case {
    const char* what;
    std::string manifest;
    Lines apps;
    HRESULT result;
  };
  const Case cases[] = {
      {"one application", Manifest({{"Example Notes", "Notes"}}), {"example notes|notes"}, S_FALSE},
      {"two applications", Manifest({{"Notes", "N"}, {"Clips", "C"}}), {"notes|n", "clips|c"}, S_FALSE},
      {"without a namespace prefix", Manifest({{"Plain", "P"}}, ""), {"plain|p"}, S_FALSE},
      {"a missing DefaultTile takes the next one's short name",
       Manifest({{"One", "S1"}, {"Two", "S2", true, false}, {"Three", "S3"}, {"Four", "S4"}}),
       {"one|s1", "two|s3", "four|s4"},
       S_FALSE},
      {"a missing VisualElements takes the next one's names",
       Manifest({{"One", "S1"}, {"Two", "S2", false}, {"Three", "S3"}}),
       {"one|s1", "three|s3"},
       S_FALSE},
      {"absent attributes give empty names", Manifest({{std::nullopt, std::nullopt}}), {"|"}, S_FALSE},
      {"no applications at all", Manifest({}), {}, S_FALSE},
  };
  for (const Case& c : cases) {
    ScopedFolder folder;
    const std::wstring path = WriteManifest(folder, c.manifest);
    CHkbhPackage package = NewPackage();
    EXPECT_EQ(CHkbhManifestReader::AddAppsToPackage(path.c_str(), &package), c.result) << c.what;
    EXPECT_EQ(AppsOf(package), c.apps) << c.what;
  }
}

TEST(ManifestXml, UnreadableManifestsAddNothing) {
  ScopedFolder folder;
  CHkbhPackage package = NewPackage();
  EXPECT_EQ(CHkbhManifestReader::GetAppNameUsingXmlParser(folder.file(L"AppxManifest.xml").c_str(), &package),
            HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  const std::wstring path = WriteManifest(folder,
                                          "<Package><Applications><Application><VisualElements "
                                          "DisplayName=\"Cut\"><DefaultTile ShortName=\"C\"");
  EXPECT_TRUE(FAILED(CHkbhManifestReader::GetAppNameUsingXmlParser(path.c_str(), &package)));
  EXPECT_EQ(AppsOf(package), Lines{}) << "the application whose tile is cut off is not added";
  EXPECT_EQ(CHkbhManifestReader::GetAppNameUsingXmlParser(nullptr, &package), E_POINTER);
  EXPECT_EQ(CHkbhManifestReader::GetAppNameUsingXmlParser(path.c_str(), nullptr), E_POINTER);
  EXPECT_EQ(CHkbhManifestReader::GetAppNameUsingXmlParser(L"", &package), E_INVALIDARG);
}

// Through the platform's real resolution, which cannot resolve these (under
// Wine it resolves no package resource at all; on Windows the package is not
// installed): the names stay as their lower-case reference text.
TEST(ManifestXml, UnresolvedReferencesStayAsTheirLowerCaseText) {
  ScopedFolder folder;
  const std::wstring path = WriteManifest(folder, Manifest({{"ms-resource:AppName", "MS-RESOURCE:/Short/"},
                                                            {"ms-resource:///Res/Title", "Plain"}}));
  CHkbhPackage package = NewPackage();
  EXPECT_EQ(CHkbhManifestReader::GetAppNameUsingXmlParser(path.c_str(), &package), S_FALSE);
  EXPECT_EQ(AppsOf(package),
            (Lines{"ms-resource:appname|ms-resource:/short/", "ms-resource:///res/title|plain"}));

  wchar_t out[kHkbhResolvedChars] = {};
  EXPECT_FALSE(CHkbhManifestReader::ConvertMsResourceToString(L"ms-resource:AppName", kFullName, kName, out));
  EXPECT_FALSE(
      CHkbhManifestReader::ConvertMsResourceToString(L"ms-resource:///AppName", kFullName, kName, out));
}

TEST(ManifestXml, ReferenceFormsReachTheResolution) {
  struct Case {
    const char* what;
    std::string reference;
    std::map<std::wstring, std::wstring> answers;
    std::vector<std::wstring> calls;
    std::string stored;
  };
  const Case cases[] = {
      {"second try with the blank",
       "ms-resource:AppName",
       {{Second(L"appname"), L"Resolved Name"}},
       {First(L"appname"), Second(L"appname")},
       "resolved name"},
      {"first form succeeds",
       "ms-resource:AppName",
       {{First(L"appname"), L"First Form"}},
       {First(L"appname")},
       "first form"},
      {"prefix in capitals",
       "MS-RESOURCE:AppName",
       {{Second(L"appname"), L"Caps"}},
       {First(L"appname"), Second(L"appname")},
       "caps"},
      {"three slashes: one form only",
       "ms-resource:///Resources/AppName",
       {},
       {Rooted(L"resources/appname")},
       "ms-resource:///resources/appname"},
      {"surrounding slashes removed",
       "ms-resource:/AppName/",
       {{First(L"appname"), L"Slashes"}},
       {First(L"appname")},
       "slashes"},
      {"neither form resolves",
       "ms-resource:Missing",
       {},
       {First(L"missing"), Second(L"missing")},
       "ms-resource:missing"},
  };
  for (const Case& c : cases) {
    ScopedFolder folder;
    const std::wstring path = WriteManifest(folder, Manifest({{c.reference, "Tile"}}));
    FakeResolution fake(c.answers);
    CHkbhPackage package = NewPackage();
    EXPECT_EQ(CHkbhManifestReader::GetAppNameUsingXmlParser(path.c_str(), &package), S_FALSE) << c.what;
    EXPECT_EQ(fake.calls(), c.calls) << c.what;
    EXPECT_EQ(AppsOf(package), Lines{c.stored + "|tile"}) << c.what;
  }
}

TEST(ManifestXml, ResolutionNeedsThePackageIdentity) {
  FakeResolution fake({});
  wchar_t out[kHkbhResolvedChars] = {};
  EXPECT_FALSE(CHkbhManifestReader::ConvertMsResourceToString(L"ms-resource:x", L"", kName, out));
  EXPECT_FALSE(CHkbhManifestReader::ConvertMsResourceToString(L"ms-resource:x", kFullName, nullptr, out));
  EXPECT_FALSE(CHkbhManifestReader::ConvertMsResourceToString(L"ms-resource:x", kFullName, kName, nullptr));
  EXPECT_FALSE(CHkbhManifestReader::ConvertMsResourceToString(L"plain", kFullName, kName, out));
  EXPECT_TRUE(fake.calls().empty());
}

TEST(ManifestXml, CheckSaysWhetherEveryNameIsText) {
  struct Case {
    const char* what;
    std::string manifest;
    std::map<std::wstring, std::wstring> answers;
    BOOL ok;
  };
  const Case cases[] = {
      {"plain names", Manifest({{"A", "B"}, {"C", "D"}}), {}, TRUE},
      {"no applications", Manifest({}), {}, TRUE},
      {"absent attributes", Manifest({{std::nullopt, std::nullopt}}), {}, TRUE},
      {"unresolved display name", Manifest({{"A", "B"}, {"ms-resource:Name", "D"}}), {}, FALSE},
      {"unresolved short name", Manifest({{"A", "ms-resource:Short"}}), {}, FALSE},
      {"resolved references",
       Manifest({{"ms-resource:Name", "ms-resource:Short"}}),
       {{Second(L"name"), L"N"}, {First(L"short"), L"S"}},
       TRUE},
  };
  for (const Case& c : cases) {
    ScopedFolder folder;
    const std::wstring path = WriteManifest(folder, c.manifest);
    FakeResolution fake(c.answers);
    CHkbhPackage package = NewPackage();
    BOOL ok = 7;
    EXPECT_TRUE(SUCCEEDED(CHkbhManifestReader::IsCanGetAppNameFromManifest(path.c_str(), &package, &ok)))
        << c.what;
    EXPECT_EQ(ok, c.ok) << c.what;
    EXPECT_TRUE(package.Apps().empty()) << c.what;
  }
}

// ---------------------------------------------------------------------------
// The display-name query.

struct Block {
  wchar_t* p = nullptr;
  ~Block() {
    if (p) ::LocalFree(p);
  }
};

TEST(DisplayNameQuery, OneApplicationGivesItsLowerCaseNameInA512ByteBlock) {
  struct Case {
    const char* what;
    std::string manifest;
    HRESULT result;
    std::wstring name;
  };
  const Case cases[] = {
      {"plain name", Manifest({{"My App", "Mine"}}), S_OK, L"my app"},
      {"absent DisplayName", Manifest({{std::nullopt, "Mine"}}), S_FALSE, L""},
      {"long name is cut to 255 units", Manifest({{std::string(300, 'N'), "L"}}), S_OK,
       std::wstring(255, L'n')},
  };
  for (const Case& c : cases) {
    ScopedFolder folder;
    const std::wstring path = WriteManifest(folder, c.manifest);
    Block block;
    EXPECT_EQ(CHkbhManifestReader::GetAppDisplayName(path.c_str(), kFullName, kName, &block.p), c.result)
        << c.what;
    ASSERT_NE(block.p, nullptr) << c.what;
    EXPECT_EQ(::LocalSize(block.p), 512u) << c.what;
    EXPECT_EQ(std::wstring(block.p), c.name) << c.what;
  }
}

TEST(DisplayNameQuery, TwoApplicationsGiveTheirOwnCodeAndNoBlock) {
  ScopedFolder folder;
  const std::wstring path = WriteManifest(folder, Manifest({{"One", "1"}, {"Two", "2"}}));
  Block block;
  EXPECT_EQ(CHkbhManifestReader::GetAppDisplayName(path.c_str(), kFullName, kName, &block.p),
            static_cast<HRESULT>(0xA0000002));
  EXPECT_EQ(block.p, nullptr);
  // The catalogue takes both.
  CHkbhPackage package = NewPackage();
  CHkbhManifestReader::AddAppsToPackage(path.c_str(), &package);
  EXPECT_EQ(AppsOf(package), (Lines{"one|1", "two|2"}));
}

TEST(DisplayNameQuery, FailuresOfTheManifest) {
  ScopedFolder folder;
  Block block;
  EXPECT_TRUE(FAILED(CHkbhManifestReader::GetAppDisplayName(folder.file(L"AppxManifest.xml").c_str(),
                                                            kFullName, kName, &block.p)));
  EXPECT_EQ(block.p, nullptr);
  const std::wstring path = WriteManifest(folder, Manifest({{"Hidden", "H", false}}));
  EXPECT_EQ(CHkbhManifestReader::GetAppDisplayName(path.c_str(), kFullName, kName, &block.p), E_FAIL);
  EXPECT_EQ(block.p, nullptr);
  EXPECT_EQ(CHkbhManifestReader::GetAppDisplayName(path.c_str(), kFullName, kName, nullptr), E_POINTER);
}

TEST(DisplayNameQuery, ReferencesResolveIntoTheBlockOrFail) {
  ScopedFolder folder;
  const std::wstring path = WriteManifest(folder, Manifest({{"ms-resource:AppName", "T"}}));
  {
    // The platform's own resolution cannot resolve it: E_FAIL, block handed out all the same.
    Block block;
    EXPECT_EQ(CHkbhManifestReader::GetAppDisplayName(path.c_str(), kFullName, kName, &block.p), E_FAIL);
    EXPECT_NE(block.p, nullptr);
  }
  {
    FakeResolution fake({{Second(L"appname"), L"Resolved Mixed Case"}});
    Block block;
    EXPECT_EQ(CHkbhManifestReader::GetAppDisplayName(path.c_str(), kFullName, kName, &block.p), S_OK);
    ASSERT_NE(block.p, nullptr);
    EXPECT_EQ(std::wstring(block.p), L"Resolved Mixed Case");
    EXPECT_EQ(fake.calls(), (std::vector<std::wstring>{First(L"appname"), Second(L"appname")}));
  }
}

// ---------------------------------------------------------------------------
// The packaging-API path, through a stand-in registered under the platform's
// CLSID (Wine has no packaging factory).

const wchar_t kFactoryClsid[] = L"{5842A140-FF9F-4166-8F5C-62F5B7B0C781}";

class ApiPath : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(hkbtest::KeyExists(HKEY_LOCAL_MACHINE, hkbtest::ScopedInprocServer::KeyOf(kFactoryClsid)))
        << "the prefix has a packaging factory";
    m_reader.emplace(HKEY_LOCAL_MACHINE, kHkbhSettingsKey, L"ManifestReaderSetting",
                     std::optional<hkbtest::RegData>(hkbtest::RegDword(0)));
    m_manifest = WriteManifest(m_folder, Manifest({{"Not read", "X"}}));
    m_scenario_env.emplace(L"HKBH_APPX_SCENARIO", m_folder.file(L"scenario.txt"));
    m_trace_env.emplace(L"HKBH_APPX_TRACE", m_folder.file(L"trace.txt"));
  }
  void Register() { m_server.emplace(kFactoryClsid, hkbtest::StandinFile(L"appx_factory_standin.dll")); }
  void Scenario(const std::string& text) { hkbtest::WriteFileBytes(m_folder.file(L"scenario.txt"), text); }
  Lines Trace() const { return hkbtest::SplitLines(hkbtest::ReadFileBytes(m_folder.file(L"trace.txt"))); }
  std::string Opened() const { return "CreateManifestReader " + hkbtest::Utf8(m_manifest) + " exclusive=1"; }

  ScopedFolder m_folder;
  std::wstring m_manifest;
  std::optional<hkbtest::ScopedRegValue> m_reader;
  std::optional<hkbtest::ScopedInprocServer> m_server;
  std::optional<hkbtest::ScopedEnv> m_scenario_env;
  std::optional<hkbtest::ScopedEnv> m_trace_env;
};

TEST_F(ApiPath, DisplayNamesAsTheFactoryGivesThemWithoutShortNames) {
  Register();
  Scenario("app ms-resource:AppName\napp Plain Name\napp \xE5\xA4\xA9\xE6\xB0\x97\n");
  FakeResolution fake({{Second(L"appname"), L"never asked"}});
  CHkbhPackage package = NewPackage();
  EXPECT_EQ(CHkbhManifestReader::AddAppsToPackage(m_manifest.c_str(), &package), S_OK);
  EXPECT_EQ(AppsOf(package), (Lines{"ms-resource:appname|", "plain name|", "\xE5\xA4\xA9\xE6\xB0\x97|"}));
  EXPECT_TRUE(fake.calls().empty()) << "references are not resolved on this path";
  EXPECT_EQ(Trace(), (Lines{"CreateInstance", Opened(), "GetApplications", "GetStringValue DisplayName",
                            "GetStringValue DisplayName", "GetStringValue DisplayName"}));
}

TEST_F(ApiPath, FailuresEndTheWorkWithTheirCode) {
  Register();
  struct Case {
    const char* what;
    std::string scenario;
    HRESULT result;
    Lines apps;
  };
  const Case cases[] = {
      {"manifest reader", "app A\nfail CreateManifestReader 80070057\n", E_INVALIDARG, {}},
      {"applications", "app A\nfail GetApplications 8000FFFF\n", E_UNEXPECTED, {}},
      {"one application's name", "app A\napp-fail 80004005\napp C\n", S_OK, {"a|", "c|"}},
      {"moving on", "app A\napp B\nfail MoveNext 80004005\n", E_FAIL, {"a|"}},
  };
  for (const Case& c : cases) {
    Scenario(c.scenario);
    CHkbhPackage package = NewPackage();
    EXPECT_EQ(CHkbhManifestReader::AddAppsToPackage(m_manifest.c_str(), &package), c.result) << c.what;
    EXPECT_EQ(AppsOf(package), c.apps) << c.what;
  }
}

TEST_F(ApiPath, WithoutAFactoryNothingIsAdded) {
  CHkbhPackage package = NewPackage();
  EXPECT_EQ(CHkbhManifestReader::AddAppsToPackage(m_manifest.c_str(), &package), REGDB_E_CLASSNOTREG);
  EXPECT_TRUE(package.Apps().empty());
}

TEST_F(ApiPath, WorksOnAThreadInTheMultithreadedApartment) {
  Register();
  Scenario("app A\n");
  ASSERT_EQ(::CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  CHkbhPackage package = NewPackage();
  EXPECT_EQ(CHkbhManifestReader::GetAppNameUsingAPI(m_manifest.c_str(), &package), S_OK);
  EXPECT_EQ(AppsOf(package), Lines{"a|"});
  // The caller's initialization is left as it was.
  EXPECT_EQ(::CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
  ::CoUninitialize();
  ::CoUninitialize();
}

TEST_F(ApiPath, AnySettingOtherThanZeroReadsTheXml) {
  Register();
  Scenario("app From Factory\n");
  hkbtest::ScopedRegValue two(HKEY_LOCAL_MACHINE, kHkbhSettingsKey, L"ManifestReaderSetting",
                              std::optional<hkbtest::RegData>(hkbtest::RegDword(2)));
  CHkbhPackage package = NewPackage();
  EXPECT_EQ(CHkbhManifestReader::AddAppsToPackage(m_manifest.c_str(), &package), S_FALSE);
  EXPECT_EQ(AppsOf(package), Lines{"not read|x"});
  EXPECT_TRUE(Trace().empty());
}

// ---------------------------------------------------------------------------
// The catalogue's use of the reader for platform packages.

class PlatformPackages : public testing::Test {
 protected:
  HkbhPackageIdentity Identity(HkbhVersion version) {
    HkbhPackageIdentity id;
    id.FamilyName = L"Example.Notes_1a2b3c4d5e6f7";
    id.FullName = kFullName;
    id.Name = kName;
    id.Version = version;
    id.InstalledPath = [this](std::wstring& path) {
      ++m_path_asked;
      path = m_folder.path();
      return S_OK;
    };
    return id;
  }
  std::vector<std::string> Dump() const { return hkbhtest::Dump(m_list); }

  ScopedFolder m_folder;
  CHkbhAppNameList m_list;
  int m_path_asked = 0;
};

TEST_F(PlatformPackages, NewPackageIsReadFromItsManifest) {
  WriteManifest(m_folder, Manifest({{"Notes", "N"}, {"Clips", "C"}}));
  EXPECT_EQ(m_list.AddMetroPackage(Identity({1, 2, 4, 3})), S_OK);
  EXPECT_EQ(Dump(), (Lines{"P Example.Notes_1a2b3c4d5e6f7 1.2.3.4 reserve=0 installed=1",
                           "  A [notes] [n] [] []", "  A [clips] [c] [] []"}));
  const CHkbhPackage* record = m_list.GetPackage(L"Example.Notes_1a2b3c4d5e6f7");
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->FullName(), kFullName);
  EXPECT_EQ(record->Name(), kName);
}

TEST_F(PlatformPackages, UnchangedOrReservedPackagesAreNotReread) {
  WriteManifest(m_folder, Manifest({{"Notes", "N"}}));
  ASSERT_EQ(m_list.AddMetroPackage(Identity({1, 0, 0, 0})), S_OK);
  m_path_asked = 0;
  WriteManifest(m_folder, Manifest({{"Changed", "C"}}));
  EXPECT_EQ(m_list.AddMetroPackage(Identity({1, 0, 0, 0})), S_OK);
  EXPECT_EQ(m_path_asked, 0) << "an unchanged package costs no manifest";

  ScopedFolder folder;
  ASSERT_EQ(
      hkbhtest::LoadText(m_list, folder,
                         "<Applications><MetroApps><Package PackageFamilyName=\"Reserved_1\" "
                         "Version=\"1.0.0.0\" NeedReserve=\"1\"><MetroApp DisplayName=\"kept\"/></Package>"
                         "</MetroApps></Applications>"),
      S_OK);
  HkbhPackageIdentity reserved = Identity({9, 9, 9, 9});
  reserved.FamilyName = L"Reserved_1";
  EXPECT_EQ(m_list.AddMetroPackage(reserved), S_OK);
  EXPECT_EQ(m_path_asked, 0);
  EXPECT_EQ(Dump(),
            (Lines{"P Example.Notes_1a2b3c4d5e6f7 1.0.0.0 reserve=0 installed=1", "  A [notes] [n] [] []",
                   "P Reserved_1 1.0.0.0 reserve=1 installed=1", "  A [kept] [] [] []"}));
}

TEST_F(PlatformPackages, ChangedPackageIsRereadOnlyWhenEveryNameIsText) {
  WriteManifest(m_folder, Manifest({{"Notes", "N"}}));
  ASSERT_EQ(m_list.AddMetroPackage(Identity({1, 0, 0, 0})), S_OK);

  // A new version whose names do not resolve yet: the record stays as it was.
  WriteManifest(m_folder, Manifest({{"ms-resource:AppName", "N2"}}));
  EXPECT_TRUE(SUCCEEDED(m_list.AddMetroPackage(Identity({2, 0, 0, 0}))));
  EXPECT_EQ(Dump(),
            (Lines{"P Example.Notes_1a2b3c4d5e6f7 1.0.0.0 reserve=0 installed=1", "  A [notes] [n] [] []"}));

  // Once they can be read, the apps are replaced and the version recorded.
  {
    FakeResolution fake({{Second(L"appname"), L"Notes Two"}});
    EXPECT_TRUE(SUCCEEDED(m_list.AddMetroPackage(Identity({2, 0, 0, 0}))));
  }
  EXPECT_EQ(Dump(), (Lines{"P Example.Notes_1a2b3c4d5e6f7 2.0.0.0 reserve=0 installed=1",
                           "  A [notes two] [n2] [] []"}));
}

TEST_F(PlatformPackages, AManifestPathBeyond260UnitsIsNotOpened) {
  HkbhPackageIdentity id = Identity({1, 0, 0, 0});
  id.InstalledPath = [](std::wstring& path) {
    path = L"C:\\" + std::wstring(240, L'p');  // with "\\AppxManifest.xml" beyond 259 units
    return S_OK;
  };
  EXPECT_EQ(m_list.AddMetroPackage(id), S_OK);
  EXPECT_EQ(Dump(), Lines{"P Example.Notes_1a2b3c4d5e6f7 1.0.0.0 reserve=0 installed=1"});
  wchar_t path[kHkbhPathChars];
  EXPECT_FALSE(HkbhBuildManifestPath((L"C:\\" + std::wstring(240, L'p')).c_str(), path));
  ASSERT_TRUE(HkbhBuildManifestPath(L"C:\\Program Files\\WindowsApps\\Pkg", path));
  EXPECT_EQ(std::wstring(path), L"C:\\Program Files\\WindowsApps\\Pkg\\AppxManifest.xml");
}

TEST_F(PlatformPackages, AnInstallFolderThatCannotBeHadAddsNothing) {
  HkbhPackageIdentity id = Identity({1, 0, 0, 0});
  id.InstalledPath = [](std::wstring&) { return E_ACCESSDENIED; };
  EXPECT_EQ(m_list.AddMetroPackage(id), E_FAIL);
  EXPECT_EQ(m_list.PackageCount(), 0u);
}

}  // namespace
