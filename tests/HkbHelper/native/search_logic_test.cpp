// The launch functions' plain decisions: the search keyword and its exclusion
// clause, the text each mode pastes, the screen state, and the browser
// setting's change and restore.
#include <gtest/gtest.h>

#include <string>

#include "search_logic.h"

namespace {

TEST(SearchKeyword, QuotedNameWithTheExclusionClauseInListOrder) {
  struct Case {
    std::wstring name;
    hkbh::NameList exclude;
    std::wstring keyword;
  } const cases[] = {
      {L"Paint", {}, L"\"Paint\""},
      {L"Paint", {L"paint studio"}, L"\"Paint\" NOT(\"paint studio\")"},
      {L"Paint", {L"paint studio", L"paint tool"}, L"\"Paint\" NOT(\"paint studio\" OR \"paint tool\")"},
      {L"Paint", {L"b", L"a", L"c"}, L"\"Paint\" NOT(\"b\" OR \"a\" OR \"c\")"},
      {L"\x30E1\x30E2 \x5E33", {L"\x30E1\x30E2"}, L"\"\x30E1\x30E2 \x5E33\" NOT(\"\x30E1\x30E2\")"},
      // An empty entry still counts as an entry.
      {L"x", {L""}, L"\"x\" NOT(\"\")"},
      // A quotation mark inside a name would close the quoted phrase early:
      // it is left out, in the name and in every entry.
      {L"Quokka", {L"say \"quokka\" hi"}, L"\"Quokka\" NOT(\"say quokka hi\")"},
      {L"Say \"Quokka\" Hi", {}, L"\"Say Quokka Hi\""},
      {L"\"a\"", {L"\"", L"b\"\"c"}, L"\"a\" NOT(\"\" OR \"bc\")"},
  };
  for (const Case& c : cases) EXPECT_EQ(hkbh::BuildSearchKeyword(c.name, c.exclude), c.keyword);
}

TEST(SearchMode, PastedTextAndEnter) {
  using hkbh::SearchPaste;
  struct Case {
    uint32_t mode;
    bool exact;
    SearchPaste paste;
    bool enter;
  } const cases[] = {
      {0, false, SearchPaste::Keyword, true}, {0, true, SearchPaste::Keyword, true},
      {1, false, SearchPaste::Name, false},   {1, true, SearchPaste::Name, false},
      {2, false, SearchPaste::Keyword, true}, {2, true, SearchPaste::Name, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(hkbh::PasteForMode(c.mode, c.exact), c.paste) << c.mode << " " << c.exact;
    EXPECT_EQ(hkbh::ModePressesEnter(c.mode), c.enter) << c.mode;
  }
}

TEST(ScreenState, LauncherAndAppVisibility) {
  struct Case {
    bool launcher;
    int32_t visibility;
    int32_t state;
  } const cases[] = {
      {false, 0, -1}, {true, 0, -1}, {false, 1, 0}, {false, 2, 2}, {false, 3, 2},
      {true, 1, 1},   {true, 2, 1},  {true, 3, 2},  {true, -1, 2},
  };
  for (const Case& c : cases)
    EXPECT_EQ(hkbh::ScreenStateFor(c.launcher, c.visibility), c.state) << c.launcher << " " << c.visibility;
}

TEST(BrowserTileSetting, WrittenForTheSearchAndPutBack) {
  using hkbh::TileRestore;
  struct Case {
    uint32_t tile;
    long read;
    uint32_t old;
    std::optional<uint32_t> write;
    TileRestore restore;
  } const cases[] = {
      {0, 0, 1, 0u, TileRestore::WriteBack},
      {0, 0, 0, std::nullopt, TileRestore::Nothing},
      {0, 0, 7, 0u, TileRestore::WriteBack},
      {1, 0, 0, 1u, TileRestore::WriteBack},
      {1, 0, 1, std::nullopt, TileRestore::Nothing},
      {2, 0, 0, std::nullopt, TileRestore::Nothing},
      // Missing: the value reads as 1; it is deleted afterwards in any case.
      {0, 2, 1, 0u, TileRestore::Delete},
      {1, 2, 1, std::nullopt, TileRestore::Delete},
      {2, 2, 1, std::nullopt, TileRestore::Delete},
      // Another type, access denied, a value too long: left alone.
      {0, 222, 1, std::nullopt, TileRestore::Nothing},
      {0, 5, 1, std::nullopt, TileRestore::Nothing},
      {1, 234, 0, std::nullopt, TileRestore::Nothing},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.tile << " " << c.read << " " << c.old);
    const std::optional<uint32_t> write = hkbh::TileValueToWrite(c.tile, c.read, c.old);
    EXPECT_EQ(write, c.write);
    EXPECT_EQ(hkbh::TileRestoreFor(c.read, write.has_value()), c.restore);
  }
}

}  // namespace
