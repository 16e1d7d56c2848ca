// The registry scripts: the shipped ones give exactly the registration table,
// and the reader follows the script grammar.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "rgs_script.h"

namespace {

using Lines = std::vector<std::string>;

std::string ReadSource(const char* name) {
  std::ifstream in(std::string(KEYDBWRAPPER_SOURCE_DIR) + "/" + name, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

Lines Table(const char* script_file, const std::string& module) {
  const auto expanded = rgs::Expand(
      ReadSource(script_file), {{"MODULE", module}, {"APPID", "{259F18F8-B49B-45d2-88D9-E042D98AA4D4}"}});
  if (!expanded) return {"<expand failed>"};
  const auto roots = rgs::Parse(*expanded);
  if (!roots) return {"<parse failed>"};
  return rgs::Flatten(*roots);
}

TEST(RgsScript, ShippedScriptsGiveTheRegistrationTable) {
  EXPECT_EQ(Table("KeyDbWrapper.rgs", "unused"),
            (Lines{"HKCR\\AppID|", "HKCR\\AppID\\{259F18F8-B49B-45d2-88D9-E042D98AA4D4}|",
                   "HKCR\\AppID\\{259F18F8-B49B-45d2-88D9-E042D98AA4D4}||s:KeyDbWrapper",
                   "HKCR\\AppID\\KeyDbWrapper.EXE|",
                   "HKCR\\AppID\\KeyDbWrapper.EXE|AppID|s:{259F18F8-B49B-45d2-88D9-E042D98AA4D4}"}));
  const std::string clsid = "HKCR\\CLSID\\{F003112F-C184-445e-9306-54A912775296}";
  EXPECT_EQ(
      Table("keyDbObj.rgs", "\"C:\\Program Files (x86)\\ZEVHKB\\KeyDbWrapper.exe\""),
      (Lines{"HKCR\\KeyDbWrapper.keyDbObj.1|", "HKCR\\KeyDbWrapper.keyDbObj.1||s:keyDbObj \\xff\\xff\\xff",
             "HKCR\\KeyDbWrapper.keyDbObj.1\\CLSID|",
             "HKCR\\KeyDbWrapper.keyDbObj.1\\CLSID||s:{F003112F-C184-445e-9306-54A912775296}",
             "HKCR\\KeyDbWrapper.keyDbObj|", "HKCR\\KeyDbWrapper.keyDbObj||s:keyDbObj \\xff\\xff\\xff",
             "HKCR\\KeyDbWrapper.keyDbObj\\CLSID|",
             "HKCR\\KeyDbWrapper.keyDbObj\\CLSID||s:{F003112F-C184-445e-9306-54A912775296}", "HKCR\\CLSID|",
             clsid + "|", clsid + "||s:keyDbObj \\xff\\xff\\xff",
             clsid + "|AppID|s:{259F18F8-B49B-45d2-88D9-E042D98AA4D4}", clsid + "\\ProgID|",
             clsid + "\\ProgID||s:KeyDbWrapper.keyDbObj.1", clsid + "\\VersionIndependentProgID|",
             clsid + "\\VersionIndependentProgID||s:KeyDbWrapper.keyDbObj", clsid + "\\LocalServer32|",
             clsid + "\\LocalServer32||s:\"C:\\Program Files (x86)\\ZEVHKB\\KeyDbWrapper.exe\""}));
  // Which keys unregistration keeps, and which registration clears first.
  const auto roots = rgs::Parse(*rgs::Expand(ReadSource("keyDbObj.rgs"), {{"MODULE", "m"}, {"APPID", "a"}}));
  ASSERT_TRUE(roots);
  const auto& keys = (*roots)[0].keys;
  ASSERT_EQ(keys.size(), 3u);
  EXPECT_EQ(keys[0].removal, rgs::Removal::kNormal);
  EXPECT_EQ(keys[1].removal, rgs::Removal::kNormal);
  EXPECT_EQ(keys[2].removal, rgs::Removal::kNoRemove);
  EXPECT_EQ(keys[2].subkeys[0].removal, rgs::Removal::kForceRemove);
  const auto app = rgs::Parse(*rgs::Expand(ReadSource("KeyDbWrapper.rgs"), {{"APPID", "a"}}));
  ASSERT_TRUE(app);
  EXPECT_EQ((*app)[0].keys[0].removal, rgs::Removal::kNoRemove);
}

TEST(RgsScript, ExpandQuotesReplacementsAndRefusesUnknownNames) {
  EXPECT_EQ(rgs::Expand("s '%MODULE%' %% %module%", {{"Module", "C:\\it's"}}),
            std::optional<std::string>("s 'C:\\it''s' % C:\\it''s"));
  EXPECT_EQ(rgs::Expand("'%OTHER%'", {{"MODULE", "x"}}), std::nullopt);
  EXPECT_EQ(rgs::Expand("'%MODULE'", {{"MODULE", "x"}}), std::nullopt);
  EXPECT_EQ(rgs::Expand("no replacements", {}), std::optional<std::string>("no replacements"));
}

struct ParseCase {
  const char* script;
  bool accepted;
  Lines table;
};

const ParseCase kParseCases[] = {
    {"HKCR { a = s 'x' }", true, {"HKCR\\a|", "HKCR\\a||s:x"}},
    {"HKEY_LOCAL_MACHINE { 'a b' { val V = d 0x10 val 'W' = d 7 } }",
     true,
     {"HKLM\\a b|", "HKLM\\a b|V|d:16", "HKLM\\a b|W|d:7"}},
    {"hkcu { NoRemove Software { ForceRemove 'It''s' = s 'q''q' } }",
     true,
     {"HKCU\\Software|", "HKCU\\Software\\It's|", "HKCU\\Software\\It's||s:q'q"}},
    {"HKCR { 'val' = s '' 'NoRemove' }", true, {"HKCR\\val|", "HKCR\\val||s:", "HKCR\\NoRemove|"}},
    {"HKCR {\r\n\ta\r\n\t{\r\n\t\tb\r\n\t}\r\n}\r\n", true, {"HKCR\\a|", "HKCR\\a\\b|"}},
    {"HKCR { } HKU { x }", true, {"HKU\\x|"}},
    {"", true, {}},
    {"HKCR { a = s 'x' ", false, {}},       // unclosed brace
    {"HKCR { a = s 'x }", false, {}},       // unclosed quote
    {"HKXX { a }", false, {}},              // unknown root
    {"HKCR { val a = s 'x' }", false, {}},  // a value needs a key
    {"HKCR { a = q 'x' }", false, {}},      // unknown type
    {"HKCR { a = d 4294967296 }", false, {}},
    {"HKCR { a = d 0x1g }", false, {}},
    {"HKCR { a { val = s 'x' } }", false, {}},
    {"HKCR { = }", false, {}},
    {"HKCR { NoRemove }", false, {}},
    {"'HKCR' { a }", false, {}},
};

TEST(RgsScript, ReaderFollowsTheGrammar) {
  for (const ParseCase& c : kParseCases) {
    SCOPED_TRACE(c.script);
    const auto roots = rgs::Parse(c.script);
    ASSERT_EQ(roots.has_value(), c.accepted);
    if (roots) EXPECT_EQ(rgs::Flatten(*roots), c.table);
  }
}

TEST(RgsScript, DeepNestingIsRefusedNotRecursedWithoutEnd) {
  std::string deep = "HKCR {";
  for (int i = 0; i < 100000; ++i) deep += " k {";
  EXPECT_FALSE(rgs::Parse(deep));
  std::string ok = "HKCR {";
  for (int i = 0; i < 31; ++i) ok += " k {";
  for (int i = 0; i < 32; ++i) ok += " }";
  EXPECT_TRUE(rgs::Parse(ok));
}

}  // namespace
