// str2xml keeps every text the writers put into XML well-formed and readable as windows-1250.
#include <gtest/gtest.h>

#include <string>

#include "core/str2xml.h"
#include "platform/cp1250.h"

namespace {

struct Case {
  const char* what;
  std::string in;
  std::string out;
};

TEST(Str2Xml, EscapesAndReplaces) {
  const Case cases[] = {
      {"markup characters", "a<b & c>d", "a&lt;b &amp; c&gt;d"},
      {"quotes", "\"x\" 'y'", "&quot;x&quot; &apos;y&apos;"},
      {"entity-looking text is escaped again", "&amp;", "&amp;amp;"},
      {"S caron is not a Polish letter", "\x8A" "ar", "_ar"},
      {"Polish letters pass", "łŻ ąćęłńóśźżĄĆĘŁŃÓŚŹŻ"_cp, "łŻ ąćęłńóśźżĄĆĘŁŃÓŚŹŻ"_cp},
      {"tab, LF and CR pass", "a\tb\nc\rd", "a\tb\nc\rd"},
      {"other control bytes become _", "a\x01" "b\x1F" "c\x0B", "a_b_c_"},
      {"DEL passes", "a\x7F", "a\x7F"},
      {"empty", "", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(str2xml(c.in.c_str()), c.out) << c.what;
}

TEST(Str2Xml, NullGivesEmpty) { EXPECT_STREQ(str2xml(nullptr), ""); }

// Every single byte: the high half keeps exactly the eighteen Polish letters.
TEST(Str2Xml, EveryByteMapsToItselfAnEntityOrUnderscore) {
  const std::string polish = "ąćęłńóśźżĄĆĘŁŃÓŚŹŻ"_cp;
  int keptHigh = 0;
  for (int b = 1; b < 256; ++b) {
    const char in[2] = {static_cast<char>(b), 0};
    const std::string out = str2xml(in);
    if (std::string("\"&'<>").find(static_cast<char>(b)) != std::string::npos) {
      EXPECT_EQ(out.front(), '&') << b;
      EXPECT_EQ(out.back(), ';') << b;
    } else if (b >= 0x80) {
      const bool isPolish = polish.find(static_cast<char>(b)) != std::string::npos;
      EXPECT_EQ(out, isPolish ? std::string(in) : "_") << b;
      keptHigh += isPolish;
    } else if (b < 0x20 && b != '\t' && b != '\n' && b != '\r') {
      EXPECT_EQ(out, "_") << b;
    } else {
      EXPECT_EQ(out, std::string(in)) << b;
    }
  }
  EXPECT_EQ(keptHigh, 18);
}

}  // namespace
