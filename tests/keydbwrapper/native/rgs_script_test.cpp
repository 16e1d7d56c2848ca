// The registry-script reader: replacements, the grammar, nesting. (What the
// shipped scripts write is checked in the registry after "RegServer".)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rgs_script.h"

namespace {

using Lines = std::vector<std::string>;

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
