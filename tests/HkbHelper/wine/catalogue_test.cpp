// The catalogue and its file, through the platform's own XmlLite.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "app_name_list.h"
#include "catalogue_samples.h"
#include "hkbtest/harness.h"
#include "support.h"

namespace {

using hkbhtest::Dump;
using hkbhtest::LoadText;
using hkbhtest::ScopedFolder;
using Lines = std::vector<std::string>;

const char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";

// ---------------------------------------------------------------------------
// Saving.

TEST(CatalogueSave, SmallCatalogueHasExactlyTheseBytes) {
  CHkbhAppNameList list;
  auto notes = std::make_unique<CHkbhPackage>(L"Example.Notes_1a2b3c4d5e6f7", L"Full", L"Name",
                                              HkbhVersion{10, 1910, 0, 0}, FALSE, TRUE);
  notes->AddApplication(L"Example Notes", L"Notes");
  list.AddMetroPackage(std::move(notes));
  auto reserved = std::make_unique<CHkbhPackage>(L"Example.Reserved_0a1b2c3d4e5f6", L"", L"",
                                                 HkbhVersion{1, 0, 0, 0}, TRUE, FALSE);
  reserved->AddApplication(std::make_unique<CHkbhMetroApp>(L"\x5929\x6c17", L"", L"\x3066\x3093\x304d", L""));
  list.AddMetroPackage(std::move(reserved));
  list.AddDesktopApp(L"Notes Editor", L"C:\\ProgramData\\Notes Editor.lnk");
  list.AddDesktopApp(
      std::make_unique<CHkbhDesktopApp>(L"Old & Tool", L"C:\\Gone\\Old.lnk", L"", L"", TRUE, FALSE, TRUE));

  ScopedFolder folder;
  const std::wstring path = folder.file(L"AppNameList.xml");
  ASSERT_EQ(list.Save(path.c_str()), S_OK);
  const std::string expected =
      std::string(kDeclaration) +
      "\r\n"
      "<Applications>\r\n"
      "  <MetroApps>\r\n"
      "    <Package PackageFamilyName=\"Example.Notes_1a2b3c4d5e6f7\" Version=\"10.1910.0.0\">\r\n"
      "      <MetroApp DisplayName=\"example notes\" ShortName=\"notes\" />\r\n"
      "    </Package>\r\n"
      "    <Package PackageFamilyName=\"Example.Reserved_0a1b2c3d4e5f6\" Version=\"1.0.0.0\" "
      "NeedReserve=\"1\" IsInstalled=\"0\">\r\n"
      "      <MetroApp DisplayName=\"\xE5\xA4\xA9\xE6\xB0\x97\" "
      "RubyDisplayName=\"\xE3\x81\xA6\xE3\x82\x93\xE3\x81\x8D\" />\r\n"
      "    </Package>\r\n"
      "  </MetroApps>\r\n"
      "  <DesktopApps>\r\n"
      "    <DesktopApp DisplayName=\"notes editor\" "
      "LnkFileName=\"C:\\ProgramData\\Notes Editor.lnk\" />\r\n"
      "    <DesktopApp DisplayName=\"old &amp; tool\" LnkFileName=\"C:\\Gone\\Old.lnk\" "
      "NeedReserve=\"1\" IsInstalled=\"0\" IsDualMode=\"1\" />\r\n"
      "  </DesktopApps>\r\n"
      "</Applications>";
  EXPECT_EQ(hkbhtest::WithoutBom(hkbtest::ReadFileBytes(path)), expected);
  EXPECT_EQ(folder.files(), std::vector<std::wstring>{L"AppNameList.xml"}) << "no temporary file is left";
}

TEST(CatalogueSave, EmptyCatalogueWritesEmptyElements) {
  CHkbhAppNameList list;
  ScopedFolder folder;
  const std::wstring path = folder.file(L"AppNameList.xml");
  ASSERT_EQ(list.Save(path.c_str()), S_OK);
  EXPECT_EQ(hkbhtest::WithoutBom(hkbtest::ReadFileBytes(path)),
            std::string(kDeclaration) +
                "\r\n<Applications>\r\n  <MetroApps />\r\n  <DesktopApps />\r\n</Applications>");
}

TEST(CatalogueSave, RoundTripKeepsEveryWrittenRecord) {
  CHkbhAppNameList list;
  hkbhtest::BuildSampleCatalogue(list);
  ScopedFolder folder;
  const std::wstring first = folder.file(L"first.xml");
  const std::wstring second = folder.file(L"second.xml");
  ASSERT_EQ(list.Save(first.c_str()), S_OK);

  CHkbhAppNameList loaded;
  ASSERT_EQ(loaded.Load(first.c_str()), S_OK);
  // Records neither installed nor reserved are left out of the file; the
  // identity strings from the platform are not kept in it.
  const Lines expected = {
      "P Example.Notes_1a2b3c4d5e6f7 10.1910.3.7 reserve=0 installed=1",
      "  A [example notes] [notes] [] []",
      "  A [notes & <clips>] [\"clips\"] [noutsu] [kurippu]",
      "P Example.Reserved_0a1b2c3d4e5f6 1.0.0.0 reserve=1 installed=0",
      "  A [\xE5\xA4\xA9\xE6\xB0\x97\xE4\xBA\x88\xE5\xA0\xB1] [\xE5\xA4\xA9\xE6\xB0\x97] "
      "[\xE3\x81\xA6\xE3\x82\x93\xE3\x81\x8D] []",
      "P Example.NoApps_7f6e5d4c3b2a1 2.5.0.0 reserve=0 installed=1",
      "D [notes editor] [C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Notes Editor.lnk] [] [] "
      "reserve=0 installed=1 dual=0",
      "D [mail client] [C:\\Users\\u\\Start Menu\\Mail Client.lnk] [\xE3\x83\xA1\xE3\x83\xBC\xE3\x83\xAB] "
      "[meeru] "
      "reserve=0 installed=1 dual=0",
      "D [reserved tool] [C:\\Missing\\Reserved Tool.lnk] [] [] reserve=1 installed=0 dual=0",
      "D [dual viewer] [C:\\Tools\\Dual Viewer.url] [] [] reserve=0 installed=1 dual=1",
  };
  EXPECT_EQ(Dump(loaded), expected);

  // Saving what was loaded writes the same file again.
  ASSERT_EQ(loaded.Save(second.c_str()), S_OK);
  EXPECT_EQ(hkbtest::ReadFileBytes(second), hkbtest::ReadFileBytes(first));
}

TEST(CatalogueSave, MarkupCharactersInNamesSurviveTheRoundTrip) {
  const std::wstring awkward = L"a & b <c> \"d\" 'e' &amp; f ]]> &#x41;";
  CHkbhAppNameList list;
  auto package = std::make_unique<CHkbhPackage>(L"Fam&<\">", L"", L"", HkbhVersion{}, FALSE, TRUE);
  package->AddApplication(std::make_unique<CHkbhMetroApp>(awkward, awkward, awkward, awkward));
  list.AddMetroPackage(std::move(package));
  list.AddDesktopApp(
      std::make_unique<CHkbhDesktopApp>(awkward, L"C:\\a&b\\<c>.lnk", awkward, awkward, FALSE, TRUE, FALSE));
  ScopedFolder folder;
  const std::wstring path = folder.file(L"AppNameList.xml");
  ASSERT_EQ(list.Save(path.c_str()), S_OK);
  CHkbhAppNameList loaded;
  ASSERT_EQ(loaded.Load(path.c_str()), S_OK) << hkbtest::ReadFileBytes(path);
  EXPECT_EQ(Dump(loaded), Dump(list));
}

TEST(CatalogueSave, ArgumentErrors) {
  CHkbhAppNameList list;
  EXPECT_EQ(list.Save(nullptr), E_POINTER);
  EXPECT_EQ(list.Save(L""), E_INVALIDARG);
  EXPECT_EQ(list.Load(nullptr), E_POINTER);
  EXPECT_EQ(list.Load(L""), E_INVALIDARG);
}

// The file is replaced only by a complete new one: the old file stays whole
// whenever the save does not succeed.
TEST(CatalogueSave, AFailedSaveLeavesTheOldFileWhole) {
  ScopedFolder folder;
  const std::wstring path = folder.file(L"AppNameList.xml");
  CHkbhAppNameList old_list;
  hkbhtest::BuildSampleCatalogue(old_list);
  ASSERT_EQ(old_list.Save(path.c_str()), S_OK);
  const std::string old_bytes = hkbtest::ReadFileBytes(path);

  CHkbhAppNameList new_list;
  hkbhtest::BuildLargeCatalogue(new_list, 20, 2, 5);

  // The folder is missing: nothing can be created there.
  const std::wstring elsewhere = folder.file(L"missing\\AppNameList.xml");
  EXPECT_TRUE(FAILED(new_list.Save(elsewhere.c_str())));
  EXPECT_FALSE(hkbtest::FileExists(folder.file(L"missing")));

  // The old file is held open by a reader that does not let it be replaced.
  {
    hkb::UniqueFile reader(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(reader);
    EXPECT_TRUE(FAILED(new_list.Save(path.c_str())));
  }
  EXPECT_EQ(hkbtest::ReadFileBytes(path), old_bytes);
  EXPECT_EQ(folder.files(), std::vector<std::wstring>{L"AppNameList.xml"}) << "the temporary file is removed";

  // Once nothing holds it, the new catalogue replaces it whole.
  ASSERT_EQ(new_list.Save(path.c_str()), S_OK);
  CHkbhAppNameList reread;
  ASSERT_EQ(reread.Load(path.c_str()), S_OK);
  EXPECT_EQ(reread.PackageCount(), 20u);
  EXPECT_EQ(reread.DesktopAppCount(), 5u);
  EXPECT_EQ(folder.files(), std::vector<std::wstring>{L"AppNameList.xml"});
}

// A save removes what saves that were ended before their rename left in the
// folder: files of the save's own temporary names that are older than a save
// takes. A younger one may belong to another process's save under way;
// other names and folders are not the save's.
TEST(CatalogueSave, TemporaryFilesOfEndedSavesAreRemoved) {
  ScopedFolder folder;
  const auto put = [&](const std::wstring& name, ULONGLONG minutes_old) {
    const std::wstring path = folder.file(name);
    if (!hkbtest::WriteFileBytes(path, "<?xml version=\"1.0\"?><Applications><MetroApps>")) return false;
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER t;
    t.LowPart = now.dwLowDateTime;
    t.HighPart = now.dwHighDateTime;
    t.QuadPart -= minutes_old * 60 * 10000000ull;
    const FILETIME written = {t.LowPart, t.HighPart};
    hkb::UniqueFile file(::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                       nullptr));
    return file && ::SetFileTime(file.get(), nullptr, nullptr, &written);
  };
  struct Case {
    const wchar_t* name;
    ULONGLONG minutes_old;
    bool kept;
  } const cases[] = {
      {L"anl1A2B.tmp", 60 * 24, false}, {L"anlff.TMP", 11, false},     {L"anl3.tmp", 0, true},
      {L"anl12345.tmp", 60 * 24, true}, {L"anlxy.tmp", 60 * 24, true}, {L"notes.tmp", 60 * 24, true},
      {L"anl7.tmp.bak", 60 * 24, true},
  };
  std::vector<std::wstring> expected = {L"AppNameList.xml"};
  for (const Case& c : cases) {
    ASSERT_TRUE(put(c.name, c.minutes_old)) << hkbtest::Utf8(c.name);
    if (c.kept) expected.push_back(c.name);
  }
  ASSERT_TRUE(::CreateDirectoryW(folder.file(L"anl9.tmp").c_str(), nullptr));
  std::sort(expected.begin(), expected.end());

  CHkbhAppNameList list;
  hkbhtest::BuildSampleCatalogue(list);
  ASSERT_EQ(list.Save(folder.file(L"AppNameList.xml").c_str()), S_OK);
  EXPECT_EQ(folder.files(), expected);
  EXPECT_NE(::GetFileAttributesW(folder.file(L"anl9.tmp").c_str()), INVALID_FILE_ATTRIBUTES);
}

// ---------------------------------------------------------------------------
// Loading.

std::string Doc(const std::string& body) { return std::string(kDeclaration) + "\r\n" + body; }

struct LoadCase {
  const char* what;
  std::string text;
  Lines expected;
  bool succeeds;
};

TEST(CatalogueLoad, ReaderWalkRules) {
  const LoadCase cases[] = {
      {"packages directly under Applications",
       Doc("<Applications><Package PackageFamilyName=\"A\" Version=\"1.0.0.0\"><MetroApp DisplayName=\"a\"/>"
           "</Package><Package PackageFamilyName=\"B\"/><DesktopApps/></Applications>"),
       {"P A 1.0.0.0 reserve=0 installed=1", "  A [a] [] [] []", "P B 0.0.0.0 reserve=0 installed=1"},
       true},
      {"an empty package followed by another",
       Doc("<Applications><MetroApps><Package PackageFamilyName=\"A\"/><Package PackageFamilyName=\"B\">"
           "<MetroApp DisplayName=\"b\"/></Package></MetroApps></Applications>"),
       {"P A 0.0.0.0 reserve=0 installed=1", "P B 0.0.0.0 reserve=0 installed=1", "  A [b] [] [] []"},
       true},
      {"a MetroApp with an end tag ends its package",
       Doc("<Applications><MetroApps><Package PackageFamilyName=\"A\"><MetroApp "
           "DisplayName=\"first\"></MetroApp>"
           "<MetroApp DisplayName=\"second\"/></Package><Package PackageFamilyName=\"B\"><MetroApp "
           "DisplayName=\"third\"/></Package></MetroApps></Applications>"),
       {"P A 0.0.0.0 reserve=0 installed=1", "  A [first] [] [] []", "P B 0.0.0.0 reserve=0 installed=1",
        "  A [third] [] [] []"},
       true},
      {"Version texts",
       Doc("<Applications><MetroApps><Package PackageFamilyName=\"A\" Version=\"1.2\"/><Package "
           "PackageFamilyName=\"B\" Version=\"65537.0.0.0\"/><Package PackageFamilyName=\"C\" "
           "Version=\"beta\"/></MetroApps></Applications>"),
       {"P A 1.2.0.0 reserve=0 installed=1", "P B 1.0.0.0 reserve=0 installed=1",
        "P C 0.0.0.0 reserve=0 installed=1"},
       true},
      {"flag texts that are not numbers",
       Doc("<Applications><MetroApps><Package PackageFamilyName=\"A\" NeedReserve=\"yes\" "
           "IsInstalled=\"no\"/>"
           "<Package PackageFamilyName=\"B\" NeedReserve=\"0\" IsInstalled=\"0\"/></MetroApps><DesktopApps>"
           "<DesktopApp DisplayName=\"d\" NeedReserve=\"x\" IsInstalled=\"x\" IsDualMode=\"x\"/>"
           "<DesktopApp DisplayName=\"e\" IsInstalled=\"0\" IsDualMode=\"2\"/></DesktopApps></Applications>"),
       {"P A 0.0.0.0 reserve=1 installed=1", "P B 0.0.0.0 reserve=0 installed=0",
        "D [d] [] [] [] reserve=1 installed=1 dual=0", "D [e] [] [] [] reserve=0 installed=0 dual=1"},
       true},
      {"duplicate family names both load",
       Doc("<Applications><MetroApps><Package PackageFamilyName=\"A\" Version=\"1.0.0.0\"/><Package "
           "PackageFamilyName=\"A\" Version=\"2.0.0.0\"/></MetroApps></Applications>"),
       {"P A 1.0.0.0 reserve=0 installed=1", "P A 2.0.0.0 reserve=0 installed=1"},
       true},
      {"names by local name, any letter case, exact length",
       Doc("<x:APPLICATIONS xmlns:x=\"urn:x\"><x:metroapps><x:package x:packagefamilyname=\"A\" "
           "PackageFamilyNameX=\"B\"><x:METROAPP displayname=\"Upper\" "
           "DisplayNames=\"no\"/><MetroApps/></x:package>"
           "</x:metroapps></x:APPLICATIONS>"),
       {"P A 0.0.0.0 reserve=0 installed=1", "  A [upper] [] [] []"},
       true},
      {"MetroApp outside a package and DesktopApp outside DesktopApps are ignored",
       Doc("<Applications><MetroApp DisplayName=\"stray\"/><DesktopApp DisplayName=\"stray\"/><MetroApps>"
           "<Package PackageFamilyName=\"A\"><Other><MetroApp DisplayName=\"nested\"/></Other></Package>"
           "</MetroApps><DesktopApps><Group><DesktopApp DisplayName=\"grouped\"/></Group></DesktopApps>"
           "</Applications>"),
       {"P A 0.0.0.0 reserve=0 installed=1", "  A [nested] [] [] []",
        "D [grouped] [] [] [] reserve=0 installed=1 dual=0"},
       true},
      {"a malformed file keeps the records read before the fault",
       Doc("<Applications><MetroApps><Package PackageFamilyName=\"A\"><MetroApp DisplayName=\"a\"/></Package>"
           "<Package PackageFamilyName=\"B\"><MetroApp DisplayName=\"b\"/></MetroApps></Applications>"),
       {"P A 0.0.0.0 reserve=0 installed=1", "  A [a] [] [] []"},
       false},
      {"a document that ends before its root is closed",
       Doc("<Applications><MetroApps><Package PackageFamilyName=\"A\"/><Package PackageFamilyName=\"B\"/>"
           "</MetroApps><DesktopApps><DesktopApp DisplayName=\"d\"/>"),
       {"P A 0.0.0.0 reserve=0 installed=1", "P B 0.0.0.0 reserve=0 installed=1",
        "D [d] [] [] [] reserve=0 installed=1 dual=0"},
       false},
  };
  for (const LoadCase& c : cases) {
    ScopedFolder folder;
    CHkbhAppNameList list;
    const HRESULT hr = LoadText(list, folder, c.text);
    EXPECT_EQ(SUCCEEDED(hr), c.succeeds) << c.what << ": 0x" << std::hex << hr;
    EXPECT_EQ(Dump(list), c.expected) << c.what;
  }
}

TEST(CatalogueLoad, ShortcutPathsAreExpandedAndWrittenBackExpanded) {
  ScopedFolder folder;
  hkbtest::ScopedEnv data(L"HKBH_TEST_DATA", L"C:\\ProgramData");
  CHkbhAppNameList list;
  const std::string long_value(300, 'v');
  hkbtest::ScopedEnv big(L"HKBH_TEST_BIG", hkbtest::Wide(long_value));
  ASSERT_EQ(
      LoadText(list, folder,
               Doc("<Applications><DesktopApps>"
                   "<DesktopApp DisplayName=\"a\" LnkFileName=\"%HKBH_TEST_DATA%\\Microsoft\\Windows\\Start "
                   "Menu\\Programs\\A.lnk\"/>"
                   "<DesktopApp DisplayName=\"b\" LnkFileName=\"%HKBH_TEST_BIG%\\B.lnk\"/>"
                   "</DesktopApps></Applications>")),
      S_OK);
  EXPECT_EQ(Dump(list),
            (Lines{"D [a] [C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\A.lnk] [] [] "
                   "reserve=0 installed=1 dual=0",
                   // does not fit 260 units expanded: kept as written
                   "D [b] [%HKBH_TEST_BIG%\\B.lnk] [] [] reserve=0 installed=1 dual=0"}));
  const std::wstring path = folder.file(L"saved.xml");
  ASSERT_EQ(list.Save(path.c_str()), S_OK);
  const std::string saved = hkbtest::ReadFileBytes(path);
  EXPECT_NE(saved.find("LnkFileName=\"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\A.lnk\""),
            std::string::npos)
      << saved;
}

TEST(CatalogueLoad, AddsToWhatTheCatalogueHolds) {
  ScopedFolder folder;
  CHkbhAppNameList list;
  list.AddDesktopApp(L"Kept", L"C:\\Kept.lnk");
  const std::string text =
      Doc("<Applications><MetroApps><Package PackageFamilyName=\"A\"/></MetroApps>"
          "<DesktopApps><DesktopApp DisplayName=\"kept\" LnkFileName=\"C:\\Kept.lnk\"/>"
          "</DesktopApps></Applications>");
  ASSERT_EQ(LoadText(list, folder, text), S_OK);
  ASSERT_EQ(LoadText(list, folder, text), S_OK);
  EXPECT_EQ(list.PackageCount(), 2u);
  EXPECT_EQ(list.DesktopAppCount(), 3u) << "loading checks no duplicates";

  EXPECT_EQ(list.Load(folder.file(L"none.xml").c_str()), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(list.PackageCount(), 2u);
}

// ---------------------------------------------------------------------------
// Records.

TEST(CatalogueRecords, DesktopAppsAreKeptOncePerShortcutPath) {
  CHkbhAppNameList list;
  EXPECT_EQ(list.AddDesktopApp(L"Notes Editor", L"C:\\Start\\Notes Editor.lnk"), S_OK);
  EXPECT_EQ(list.AddDesktopApp(L"Other Name", L"c:\\start\\NOTES EDITOR.LNK"), S_FALSE);
  EXPECT_TRUE(list.IsInDesktopAppList(L"C:\\START\\notes editor.lnk"));
  EXPECT_FALSE(list.IsInDesktopAppList(L"C:\\Start\\Notes.lnk"));
  EXPECT_FALSE(list.IsInDesktopAppList(L""));
  EXPECT_FALSE(list.IsInDesktopAppList(nullptr));
  EXPECT_EQ(list.AddDesktopApp(nullptr, L"C:\\x.lnk"), E_POINTER);
  EXPECT_EQ(list.AddDesktopApp(L"x", nullptr), E_POINTER);
  EXPECT_EQ(list.AddDesktopApp(L"", L"C:\\x.lnk"), E_INVALIDARG);
  EXPECT_EQ(list.AddDesktopApp(L"x", L""), E_INVALIDARG);
  EXPECT_EQ(Dump(list),
            Lines{"D [notes editor] [C:\\Start\\Notes Editor.lnk] [] [] reserve=0 installed=1 dual=0"});
}

TEST(CatalogueRecords, PackageLookupIsExactAndFindsTheFirst) {
  CHkbhAppNameList list;
  list.AddMetroPackage(
      std::make_unique<CHkbhPackage>(L"Fam_A", L"", L"", HkbhVersion{1, 0, 0, 0}, FALSE, TRUE));
  list.AddMetroPackage(
      std::make_unique<CHkbhPackage>(L"Fam_A", L"", L"", HkbhVersion{2, 0, 0, 0}, FALSE, TRUE));
  list.AddMetroPackage(std::make_unique<CHkbhPackage>(L"", L"", L"", HkbhVersion{}, FALSE, TRUE));
  ASSERT_NE(list.GetPackage(L"Fam_A"), nullptr);
  EXPECT_EQ(list.GetPackage(L"Fam_A")->Version().major, 1);
  EXPECT_EQ(list.GetPackage(L"fam_a"), nullptr);
  EXPECT_EQ(list.GetPackage(L""), nullptr);
  EXPECT_EQ(list.GetPackage(nullptr), nullptr);
  EXPECT_EQ(list.AddMetroPackage(std::unique_ptr<CHkbhPackage>()), E_POINTER);
}

// ---------------------------------------------------------------------------
// Exclusion.

TEST(CatalogueExclusion, ListAndExactMatchOverInstalledRecords) {
  ScopedFolder folder;
  CHkbhAppNameList list;
  ASSERT_EQ(
      LoadText(list, folder,
               Doc("<Applications><MetroApps>"
                   "<Package PackageFamilyName=\"A\"><MetroApp DisplayName=\"Paint Studio\"/>"
                   "<MetroApp DisplayName=\"Paint\"/></Package>"
                   "<Package PackageFamilyName=\"B\" IsInstalled=\"0\"><MetroApp DisplayName=\"paint pro\"/>"
                   "</Package>"
                   "<Package PackageFamilyName=\"C\" IsInstalled=\"0\" NeedReserve=\"1\">"
                   "<MetroApp DisplayName=\"paint reserved\"/></Package>"
                   "<Package PackageFamilyName=\"D\"><MetroApp DisplayName=\"Fresh Paint\"/></Package>"
                   "</MetroApps><DesktopApps>"
                   "<DesktopApp DisplayName=\"Paint\"/>"
                   "<DesktopApp DisplayName=\"paint shop\" IsInstalled=\"0\"/>"
                   "<DesktopApp DisplayName=\"PAINT STUDIO\"/>"
                   "</DesktopApps></Applications>")),
      S_OK);
  HkbhExcludeList excluded;
  BOOL exact = 7;
  EXPECT_EQ(list.GetExcludeAppNameList(L"Paint", &excluded, &exact), S_OK);
  EXPECT_EQ(excluded, (HkbhExcludeList{L"paint studio", L"fresh paint"}));
  EXPECT_EQ(exact, TRUE);

  excluded.clear();
  EXPECT_EQ(list.GetExcludeAppNameList(L"studio paint", &excluded, &exact), S_OK);
  EXPECT_EQ(excluded, HkbhExcludeList{});
  EXPECT_EQ(exact, TRUE);

  excluded.clear();
  EXPECT_EQ(list.GetExcludeAppNameList(L"notes", &excluded, &exact), S_OK);
  EXPECT_EQ(exact, FALSE);
  EXPECT_TRUE(excluded.empty());

  EXPECT_EQ(list.GetExcludeAppNameList(nullptr, &excluded, &exact), E_POINTER);
  EXPECT_EQ(list.GetExcludeAppNameList(L"x", nullptr, &exact), E_POINTER);
  EXPECT_EQ(list.GetExcludeAppNameList(L"x", &excluded, nullptr), E_POINTER);
  EXPECT_EQ(list.GetExcludeAppNameList(L"", &excluded, &exact), E_INVALIDARG);
}

TEST(CatalogueExclusion, DualModeAndLocalizedDesktopNames) {
  CHkbhAppNameList list;
  list.AddDesktopApp(std::make_unique<CHkbhDesktopApp>(L"Viewer", L"C:\\v.lnk", L"", L"", FALSE, TRUE, TRUE));
  list.AddDesktopApp(
      std::make_unique<CHkbhDesktopApp>(L"Mailer", L"C:\\m.lnk", L"mail viewer", L"", FALSE, TRUE, FALSE));
  HkbhExcludeList excluded;
  BOOL exact = TRUE;
  ASSERT_EQ(list.GetExcludeAppNameList(L"viewer", &excluded, &exact), S_OK);
  EXPECT_EQ(exact, FALSE) << "a dual-mode app of that very name is no exact match";
  EXPECT_EQ(excluded, HkbhExcludeList{L"mail viewer"}) << "the localized name stands for the app";
}

// Readers of the catalogue run while another thread changes it.
TEST(CatalogueThreads, ExclusionQueriesWhileTheCatalogueChanges) {
  CHkbhAppNameList list;
  list.AddDesktopApp(L"Paint", L"C:\\Paint.lnk");
  std::atomic<bool> stop{false};
  std::atomic<int> queries{0};
  std::atomic<int> inconsistent{0};
  std::thread reader([&] {
    while (!stop) {
      HkbhExcludeList excluded;
      BOOL exact = FALSE;
      if (list.GetExcludeAppNameList(L"paint", &excluded, &exact) != S_OK || !exact) ++inconsistent;
      for (const std::wstring& name : excluded) {
        if (name.rfind(L"paint tool ", 0) != 0) ++inconsistent;
      }
      ++queries;
    }
  });
  for (int i = 0; i < 1500; ++i) {
    auto package =
        std::make_unique<CHkbhPackage>(L"Fam" + std::to_wstring(i), L"", L"", HkbhVersion{}, FALSE, TRUE);
    package->AddApplication((L"Paint Tool " + std::to_wstring(i)).c_str(), nullptr);
    list.AddMetroPackage(std::move(package));
    list.AddDesktopApp((L"Tool " + std::to_wstring(i)).c_str(),
                       (L"C:\\t" + std::to_wstring(i) + L".lnk").c_str());
    list.SetPackageInstalledAt(static_cast<size_t>(i / 2), i % 2);
  }
  hkbtest::PumpUntil([&] { return queries.load() >= 20; }, std::chrono::seconds(60));
  stop = true;
  reader.join();
  EXPECT_GE(queries.load(), 20);
  EXPECT_EQ(inconsistent.load(), 0);
  EXPECT_EQ(list.PackageCount(), 1500u);
}

}  // namespace
