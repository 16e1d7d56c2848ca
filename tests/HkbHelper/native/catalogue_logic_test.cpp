// The catalogue's plain decisions, natively with sanitizers.
#include "catalogue_logic.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using hkbh::NameList;

TEST(CharacterClasses, WordCharactersAreSlashDigitsLettersAndUnderscore) {
  for (wchar_t c : std::wstring(L"/09AZ_az5mQ")) EXPECT_TRUE(hkbh::IsWordChar(c)) << int(c);
  for (wchar_t c : std::wstring(L".-:@[`{ \\\t+*\x00e9\x3042")) EXPECT_FALSE(hkbh::IsWordChar(c)) << int(c);
}

TEST(CharacterClasses, SignificantRangesAreExactAtBothEnds) {
  struct Case {
    unsigned code;
    bool significant;
  };
  const Case cases[] = {
      {0x005C, true},  {0x005B, false}, {0x3040, false}, {0x3041, true},  {0x30FF, true},  {0x3100, false},
      {0x33FF, false}, {0x3400, true},  {0x4DB5, true},  {0x4DB6, false}, {0x4DFF, false}, {0x4E00, true},
      {0x9FC3, true},  {0x9FC4, false}, {0xF8FF, false}, {0xF900, true},  {0xFA2D, true},  {0xFA2E, false},
      {0xFA2F, false}, {0xFA30, true},  {0xFA6A, true},  {0xFA6B, false}, {0xFF0F, false}, {0xFF10, true},
      {0xFF19, true},  {0xFF1A, false}, {0xFF20, false}, {0xFF21, true},  {0xFF3A, true},  {0xFF3B, false},
      {0xFF40, false}, {0xFF41, true},  {0xFF5A, true},  {0xFF5B, false}, {0xFF65, false}, {0xFF66, true},
      {0xFF9F, true},  {0xFFA0, false}, {0x0041, false}, {0x0020, false}, {0x00E9, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(hkbh::IsSignificantChar(static_cast<wchar_t>(c.code)), c.significant) << std::hex << c.code;
}

TEST(IsSubStrNoOrder, WordsAndSignificantCharactersInAnyOrder) {
  struct Case {
    const wchar_t* searched;
    const wchar_t* other;
    bool covered;
  };
  const Case cases[] = {
      {L"", L"anything", true},
      {L"", L"", true},
      {L"note pad", L"notepad++", true},  // both words occur
      {L"notepad", L"note pad", false},   // the whole word must occur
      {L"mail", L"hotmail", true},
      {L"hotmail", L"mail", false},
      {L"Paint", L"paint", false},  // case-sensitive
      {L"paint, (3d)!", L"3d paint", true},
      {L"editor notes", L"notes editor", true},
      {L"a/b", L"a b", false},  // "/" belongs to the word
      {L"c:\\tools", L"tools\\c", true},
      {L"c:\\tools", L"tools c", false},  // "\" counts on its own
      {L"\x65e5\x672c", L"\x672c\x65e5", true},
      {L"\x65e5\x672c", L"\x65e5", false},  // a missing kanji
      {L"\xff71", L"\xff71\xff8c\xff9f\xff98", true},
      {L"\xff71", L"\x30a2", false},
      {L"\x00e9t\x00e9", L"t", true},  // other scripts are ignored
      {L"x  y", L"yx", true},
      {L"\xff21\xff22", L"\xff22\xff21", true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(hkbh::IsSubStrNoOrder(c.searched, c.other), c.covered)
        << "searched '" << testing::PrintToString(std::wstring(c.searched)) << "' in '"
        << testing::PrintToString(std::wstring(c.other)) << "'";
}

TEST(Folding, OnlyAsciiCapitalsFold) {
  EXPECT_EQ(hkbh::FoldLower(L"AZaz09 \x00C9\xFF21"), L"azaz09 \x00C9\xFF21");
  EXPECT_TRUE(hkbh::EqualsNoCase(L"Paint Studio", L"pAINT sTUDIO"));
  EXPECT_FALSE(hkbh::EqualsNoCase(L"paint", L"paints"));
  EXPECT_FALSE(hkbh::EqualsNoCase(L"\x00E9", L"\x00C9"));
}

// The index answers as a walk over the list with the comparison it stands in
// for would: the first entry of that name, or none.
TEST(NameIndex, FindsTheFirstEntryAsTheComparisonWould) {
  const std::vector<std::wstring> list = {L"C:\\Start\\Notes.lnk", L"",      L"c:\\start\\NOTES.LNK",
                                          L"\x00c9t\x00e9.lnk",    L"Fam_A", L"C:\\Start\\Mail.lnk"};
  const wchar_t* queries[] = {L"C:\\Start\\Notes.lnk",
                              L"C:\\START\\notes.lnk",
                              L"c:\\start\\NOTES.LNK",
                              L"\x00e9T\x00c9.lnk",
                              L"\x00c9t\x00e9.LNK",
                              L"fam_a",
                              L"Fam_A",
                              L"",
                              L"C:\\Start\\Mail.lnk ",
                              L"C:\\Start\\Mail.lnk"};
  for (const bool ignore_case : {false, true}) {
    hkbh::NameIndex index(ignore_case);
    for (const std::wstring& name : list) index.Append(name);
    EXPECT_EQ(index.covered(), list.size());
    for (const wchar_t* query : queries) {
      std::optional<size_t> walked;
      for (size_t i = 0; i < list.size() && !walked; ++i) {
        const bool same = ignore_case ? hkbh::EqualsNoCase(list[i], query) : list[i] == query;
        if (same && !list[i].empty()) walked = i;
      }
      EXPECT_EQ(index.Find(query), walked)
          << testing::PrintToString(std::wstring(query)) << " " << ignore_case;
    }
  }
}

TEST(NameIndex, GrowsFromWhereItStoodAndEmptiesWithClear) {
  const std::vector<std::wstring> list = {L"a", L"B", L"b", L"c"};
  hkbh::NameIndex index(true);
  index.Append(list[0]);
  index.Append(list[1]);
  EXPECT_EQ(index.Find(L"c"), std::nullopt);
  index.Append(list[2]);
  index.Append(list[3]);
  EXPECT_EQ(index.Find(L"b"), std::optional<size_t>(1)) << "the first of two equal names";
  EXPECT_EQ(index.Find(L"C"), std::optional<size_t>(3));
  index.Clear();
  EXPECT_EQ(index.covered(), 0u);
  EXPECT_EQ(index.Find(L"a"), std::nullopt);
  index.Append(list[3]);
  EXPECT_EQ(index.Find(L"c"), std::optional<size_t>(0)) << "positions count again from the start";
}

TEST(ExcludeList, AddsOncePerNameIgnoringCase) {
  NameList list;
  EXPECT_EQ(hkbh::AddExcludeName(list, L"Paint Studio"), hkbh::AddResult::Added);
  EXPECT_EQ(hkbh::AddExcludeName(list, L"paint studio"), hkbh::AddResult::AlreadyPresent);
  EXPECT_EQ(hkbh::AddExcludeName(list, L"paint"), hkbh::AddResult::Added);
  EXPECT_EQ(list, (NameList{L"Paint Studio", L"paint"}));
}

struct MetroCase {
  const char* what;
  const wchar_t* keyword;  // folded
  const wchar_t* display;
  const wchar_t* ruby_display;
  const wchar_t* short_name;
  const wchar_t* ruby_short;
  NameList added;
  bool exact;
};

TEST(ExcludeMetroApp, DecisionsForEachName) {
  const MetroCase cases[] = {
      {"longer name goes into the list", L"paint", L"paint studio", L"", L"", L"", {L"paint studio"}, false},
      {"the keyword itself contributes nothing", L"paint", L"paint", L"", L"paint", L"", {}, false},
      {"same words in another order is exact", L"notes editor", L"editor notes", L"", L"", L"", {}, true},
      {"unrelated name adds nothing", L"paint", L"notes", L"", L"", L"", {}, false},
      {"alternative form puts the display name in",
       L"paint",
       L"studio",
       L"paint sutajio",
       L"",
       L"",
       {L"studio"},
       false},
      {"short name equal in words is exact",
       L"paint",
       L"photo paint 3d",
       L"",
       L"paint",
       L"",
       {L"photo paint 3d"},
       true},
      {"longer short name is added", L"paint", L"studio", L"", L"paint pro", L"", {L"paint pro"}, false},
      {"alternative short form puts the short name in",
       L"paint",
       L"studio",
       L"",
       L"pro",
       L"paint puro",
       {L"pro"},
       false},
      {"empty display name ends it", L"paint", L"", L"", L"paint pro", L"", {}, false},
  };
  for (const MetroCase& c : cases) {
    NameList list;
    const hkbh::ExcludeOutcome out = hkbh::ExcludeMetroApp(c.keyword, c.display, c.ruby_display, c.short_name,
                                                           c.ruby_short, list, hkbh::IsSubStrNoOrder);
    EXPECT_EQ(list, c.added) << c.what;
    EXPECT_EQ(out.exact, c.exact) << c.what;
    EXPECT_EQ(out.last_add.has_value(), !c.added.empty()) << c.what;
  }
}

TEST(ExcludeMetroApp, NameAlreadyListedReportsPresentAsLastAdd) {
  NameList list{L"PAINT STUDIO"};
  const auto out =
      hkbh::ExcludeMetroApp(L"paint", L"paint studio", L"", L"", L"", list, hkbh::IsSubStrNoOrder);
  EXPECT_EQ(list.size(), 1u);
  ASSERT_TRUE(out.last_add.has_value());
  EXPECT_EQ(*out.last_add, hkbh::AddResult::AlreadyPresent);
}

TEST(ExcludeDesktopApp, DecisionsForEachName) {
  struct Case {
    const char* what;
    const wchar_t* keyword;
    const wchar_t* name;
    const wchar_t* ruby;
    bool dual;
    NameList added;
    bool exact;
  };
  const Case cases[] = {
      {"the keyword itself is exact", L"paint", L"Paint", L"", false, {}, true},
      {"unless in dual mode", L"paint", L"paint", L"", true, {}, false},
      {"same words in another order is exact", L"notes editor", L"editor notes", L"", false, {}, true},
      {"longer name goes into the list", L"paint", L"paint shop", L"", false, {L"paint shop"}, false},
      {"alternative form adds the name", L"paint", L"shop", L"paint shoppu", false, {L"shop"}, false},
      {"empty name adds nothing", L"paint", L"", L"paint", false, {}, false},
  };
  for (const Case& c : cases) {
    NameList list;
    const auto out = hkbh::ExcludeDesktopApp(c.keyword, c.name, c.ruby, c.dual, list, hkbh::IsSubStrNoOrder);
    EXPECT_EQ(list, c.added) << c.what;
    EXPECT_EQ(out.exact, c.exact) << c.what;
  }
}

TEST(IndirectForms, ReferenceFormsAndTheirSecondTry) {
  struct Case {
    const wchar_t* reference;
    bool built;
    const wchar_t* first;
    const wchar_t* second;
  };
  const Case cases[] = {
      {L"ms-resource:appname", true, L"@{Full_1?ms-resource://Pkg/resources/appname}",
       L"@{Full_1? ms-resource://Pkg/appname}"},
      {L"ms-resource:/appname/", true, L"@{Full_1?ms-resource://Pkg/resources/appname}",
       L"@{Full_1? ms-resource://Pkg/appname}"},
      {L"ms-resource://appname", true, L"@{Full_1?ms-resource://Pkg/resources/appname}",
       L"@{Full_1? ms-resource://Pkg/appname}"},
      {L"ms-resource:res/name", true, L"@{Full_1?ms-resource://Pkg/resources/res/name}",
       L"@{Full_1? ms-resource://Pkg/res/name}"},
      {L"ms-resource:///resources/appname", true, L"@{Full_1?ms-resource://Pkg/resources/appname}", L""},
      {L"ms-resource:", true, L"@{Full_1?ms-resource://Pkg/resources/}", L"@{Full_1? ms-resource://Pkg/}"},
      {L"MS-RESOURCE:appname", false, L"", L""},  // callers fold first
      {L"my app", false, L"", L""},
      {L"ms-resourc", false, L"", L""},
  };
  for (const Case& c : cases) {
    hkbh::IndirectForms forms;
    EXPECT_EQ(hkbh::BuildIndirectForms(c.reference, L"Full_1", L"Pkg", forms), c.built)
        << testing::PrintToString(std::wstring(c.reference));
    EXPECT_EQ(forms.first, c.first);
    EXPECT_EQ(forms.second, c.second);
  }
}

TEST(VersionText, ReadAsScanfReadsFourShortParts) {
  struct Case {
    const wchar_t* text;
    unsigned major, minor, build, revision;
  };
  const Case cases[] = {
      {L"1.2.3.4", 1, 2, 3, 4},
      {L"1.2", 1, 2, 0, 0},
      {L"65537.0.0.0", 1, 0, 0, 0},
      {L"70000.65535.131072.4294967297", 4464, 65535, 0, 1},
      {L"", 0, 0, 0, 0},
      {L"x.1.1.1", 0, 0, 0, 0},
      {L"1.x.3.4", 1, 0, 0, 0},  // reading stops at the first part that does not parse
      {L"1..2.3", 1, 0, 0, 0},
      {L" 7. 8.\t9.10", 7, 8, 9, 10},
      {L"-1.+2.0.0", 65535, 2, 0, 0},
      {L"1.2.3.4.5", 1, 2, 3, 4},
      {L"10 .2", 10, 0, 0, 0},
  };
  for (const Case& c : cases) {
    const hkbh::PackageVersion v = hkbh::ParseVersionText(c.text);
    EXPECT_EQ(v.major, c.major) << testing::PrintToString(std::wstring(c.text));
    EXPECT_EQ(v.minor, c.minor) << testing::PrintToString(std::wstring(c.text));
    EXPECT_EQ(v.build, c.build) << testing::PrintToString(std::wstring(c.text));
    EXPECT_EQ(v.revision, c.revision) << testing::PrintToString(std::wstring(c.text));
  }
}

TEST(VersionText, WrittenWithBuildBeforeRevision) {
  struct Case {
    uint16_t major, minor, build, revision;
    const wchar_t* text;
  };
  const Case cases[] = {
      {10, 1910, 65535, 7, L"10.1910.65535.7"},
      {0, 0, 0, 0, L"0.0.0.0"},
      {1, 20, 300, 4000, L"1.20.300.4000"},
      {65535, 65535, 65535, 65535, L"65535.65535.65535.65535"},  // fills the buffer
      {9, 10, 99, 100, L"9.10.99.100"},
  };
  for (const Case& c : cases) {
    hkbh::PackageVersion v;
    v.major = c.major;
    v.minor = c.minor;
    v.build = c.build;
    v.revision = c.revision;
    EXPECT_EQ(hkbh::FormatVersionText(v), c.text);
    wchar_t buffer[hkbh::kVersionTextChars];
    hkbh::FormatVersionText(v, buffer);
    EXPECT_EQ(std::wstring(buffer), c.text);
    EXPECT_EQ(hkbh::ParseVersionText(hkbh::FormatVersionText(v)), v);
  }
}

TEST(FlagText, NumberTruthOrNothing) {
  struct Case {
    const wchar_t* text;
    int expected;  // -1: not a number
  };
  const Case cases[] = {{L"1", 1},   {L"0", 0},     {L"2", 1},  {L" 1", 1},        {L"-0", 0},
                        {L"007", 1}, {L"0x1", 0},   {L"x", -1}, {L"", -1},         {L"+", -1},
                        {L" ", -1},  {L"true", -1}, {L"-3", 1}, {L"4294967296", 0}};
  for (const Case& c : cases) {
    const std::optional<bool> got = hkbh::ParseFlagText(c.text);
    if (c.expected < 0)
      EXPECT_FALSE(got.has_value()) << testing::PrintToString(std::wstring(c.text));
    else
      EXPECT_EQ(got, std::optional<bool>(c.expected == 1)) << testing::PrintToString(std::wstring(c.text));
  }
}

TEST(BaseName, FileNameCutAtTheFirstDot) {
  EXPECT_EQ(hkbh::ExecutableBaseName(L"C:\\Tools\\Btn.Svc.exe"), L"Btn");
  EXPECT_EQ(hkbh::ExecutableBaseName(L"C:\\a.b\\host.exe"), L"host");
  EXPECT_EQ(hkbh::ExecutableBaseName(L"noext"), L"noext");
  EXPECT_EQ(hkbh::ExecutableBaseName(L"C:\\x\\.hidden.exe"), L"");
}

// Only names that the save's GetTempFileNameW calls can give are taken for
// leftovers: Windows writes the number in capitals, Wine in small letters.
TEST(SaveTempName, PrefixOneToFourHexDigitsAndTmp) {
  struct Case {
    const wchar_t* name;
    bool temp;
  } const cases[] = {
      {L"anl1.tmp", true},         {L"anlBEEF.TMP", true},
      {L"ANL0a9F.Tmp", true},      {L"anlffff.tmp", true},
      {L"anl.tmp", false},         {L"anl12345.tmp", false},
      {L"anlg1.tmp", false},       {L"anl1.tmp.xml", false},
      {L"xanl1.tmp", false},       {L"anl1.tm", false},
      {L"AppNameList.xml", false}, {L"anl 1.tmp", false},
      {L"abc1.tmp", false},        {L"", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(hkbh::IsCatalogueTempName(c.name), c.temp) << testing::PrintToString(std::wstring(c.name));
}

}  // namespace
