// The command-line switch rule, the status library path and the bounded copy.
#include <gtest/gtest.h>

#include <string>

#include "keydb_logic.h"

namespace {

using keydb::Switch;

struct SwitchCase {
  const char16_t* line;
  Switch expected;
};

const SwitchCase kSwitches[] = {
    {u"KeyDbWrapper.exe /RegServer", Switch::kRegServer},
    {u"KeyDbWrapper.exe -regserver", Switch::kRegServer},
    {u"KeyDbWrapper.exe /REGSERVER", Switch::kRegServer},
    {u"\"C:\\Program Files (x86)\\ZEVHKB\\KeyDbWrapper.exe\" /UnregServer", Switch::kUnregServer},
    {u"KeyDbWrapper.exe -unregSERVER", Switch::kUnregServer},
    // The switch must end the command line.
    {u"KeyDbWrapper.exe /RegServer now", Switch::kNone},
    {u"KeyDbWrapper.exe /RegServer ", Switch::kNone},
    {u"KeyDbWrapper.exe /UnregServer /x", Switch::kNone},
    // An earlier "-" or "/" that does not match lets the search go on.
    {u"C:/tools/KeyDbWrapper.exe -x -RegServer", Switch::kRegServer},
    {u"my-app.exe /UnregServer", Switch::kUnregServer},
    // The text right after the character is compared, nothing in between.
    {u"KeyDbWrapper.exe / RegServer", Switch::kNone},
    {u"KeyDbWrapper.exe RegServer", Switch::kNone},
    {u"KeyDbWrapper.exe -Embedding", Switch::kNone},
    {u"KeyDbWrapper.exe", Switch::kNone},
    {u"", Switch::kNone},
    {u"-", Switch::kNone},
    {u"x /RegServe", Switch::kNone},
    {u"x /RegServerr", Switch::kNone},
    // Letters outside ASCII are not folded into the switch.
    {u"x /R\u00e9gServer", Switch::kNone},
    {u"x /\uff32egServer", Switch::kNone},
};

TEST(KeyDbLogic, RegistrationSwitchMustEndTheCommandLine) {
  for (const SwitchCase& c : kSwitches) {
    SCOPED_TRACE(std::string(c.line, c.line + std::char_traits<char16_t>::length(c.line)).c_str());
    EXPECT_EQ(keydb::FindRegistrationSwitch(c.line), c.expected);
  }
}

TEST(KeyDbLogic, StatusLibraryReplacesEveryProgramName) {
  const struct {
    const char16_t* path;
    const char16_t* expected;
  } cases[] = {
      {u"c:\\program files (x86)\\zevhkb\\keydbwrapper.exe", u"c:\\program files (x86)\\zevhkb\\KeyDb.dll"},
      {u"c:\\keydbwrapper.exe\\keydbwrapper.exe", u"c:\\KeyDb.dll\\KeyDb.dll"},
      {u"keydbwrapper.exe", u"KeyDb.dll"},
      {u"c:\\zevhkb\\keydbserver.exe", u""},
      {u"c:\\zevhkb\\keydbwrapper.ex", u""},
      {u"", u""},
      // Only the lower-cased form counts; the caller lower-cases the path.
      {u"c:\\zevhkb\\KeyDbWrapper.exe", u""},
  };
  for (const auto& c : cases) EXPECT_EQ(keydb::StatusLibraryPath(c.path), std::u16string(c.expected));
}

TEST(KeyDbLogic, CopyStopsAtTheTerminatorAndNeverPassesTheBuffer) {
  for (const size_t length : {size_t{0}, size_t{1}, size_t{258}, size_t{259}, size_t{260}, size_t{1000}}) {
    SCOPED_TRACE(length);
    std::u16string text(length, u'a');
    for (size_t i = 0; i < length; ++i) text[i] = static_cast<char16_t>(u'a' + i % 26);
    unsigned short out[keydb::kTextUnits + 4];
    std::fill(std::begin(out), std::end(out), 0xBEEF);
    const size_t copied = keydb::CopyTerminated(text.c_str(), out, keydb::kTextUnits);
    const size_t expected = std::min(length, keydb::kTextUnits - 1);
    EXPECT_EQ(copied, expected);
    for (size_t i = 0; i < expected; ++i) ASSERT_EQ(out[i], text[i]) << i;
    EXPECT_EQ(out[expected], 0);
    for (size_t i = expected + 1; i < std::size(out); ++i) ASSERT_EQ(out[i], 0xBEEF) << "written at " << i;
  }
  // A text with a unit of 0 inside ends there, as a terminated text does.
  const char16_t inner[] = u"ab\0cd";
  unsigned short out[8] = {9, 9, 9, 9, 9, 9, 9, 9};
  EXPECT_EQ(keydb::CopyTerminated(inner, out, 8), 2u);
  EXPECT_EQ(out[2], 0);
  EXPECT_EQ(out[3], 9);
}

}  // namespace
