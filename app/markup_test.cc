#include "app/markup.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/console.h"

namespace kelvane {
namespace {

// A start attribute that no code below produces, so "start" is recognisable.
constexpr uint8_t Start = 0x1E;

struct tRun {
  std::string Text;
  uint8_t Attr;
};

// Writes Input through the markup writer and reads back the first row as
// runs of equal attribute.
std::vector<tRun> Render(const std::string& Input, uint8_t* After = nullptr) {
  tModelConsole C(40, 2, 0x07);
  C.TextAttribute = Start;
  WriteMarkup(C, Input);
  if (After) *After = C.TextAttribute;
  std::vector<tRun> Runs;
  for (int X = 0; X < C.Screen.CursorX(); ++X) {
    const tCell& Cell = C.Screen.At(X, 0);
    if (Runs.empty() || Runs.back().Attr != Cell.Attr) Runs.push_back({"", Cell.Attr});
    Runs.back().Text.push_back(static_cast<char>(Cell.Char));
  }
  return Runs;
}

TEST(Markup, ExamplesCellByCell) {
  struct {
    const char* Input;
    std::vector<tRun> Expect;
  } Cases[] = {
      {"a~~b", {{"a~b", Start}}},
      {"~0C~~~x", {{"~x", 0x0C}}},
      {"~0C~red~07~grey", {{"red", 0x0C}, {"grey", 0x07}}},
      {"abc~0C", {{"abc", Start}, {"0C", 0x00}}},
      {"abc~", {{"abc", Start}}},
      {"~0c~x  ~1f~x", {{"x  ", 0x0C}, {"x", 0x1F}}},
      {"~10F~x", {{"x", 0x0F}}},
      {"~ZZ~x", {{"x", 0x53}}},
      {"~~~0C~x", {{"~", Start}, {"x", 0x0C}}},
      {"~~", {{"~", Start}}},
      // Pairs in a run are each a literal tilde: a name with two tildes in
      // a row, doubled, shows as it is and leaves the colour alone.
      {"~~~~", {{"~~", Start}}},
      {"~~~~x", {{"~~x", Start}}},
      {"~~~~~0C~x", {{"~~", Start}, {"x", 0x0C}}},
      {"~~~", {{"~", Start}}},  // then an unclosed code: nothing more to show
      {"~~0A~x", {{"~0A", Start}, {"x", 0x00}}},  // "~~" is literal; "~x" is unclosed
      {"~~x~", {{"~x", Start}}},
      {"~0F~ \xFE ~07~kelvane", {{" \xFE ", 0x0F}, {"kelvane", 0x07}}},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Input);
    uint8_t After = 0;
    std::vector<tRun> Got = Render(Case.Input, &After);
    ASSERT_EQ(Got.size(), Case.Expect.size());
    for (size_t I = 0; I < Got.size(); ++I) {
      EXPECT_EQ(Got[I].Text, Case.Expect[I].Text) << I;
      EXPECT_EQ(Got[I].Attr, Case.Expect[I].Attr) << I;
    }
    EXPECT_EQ(After, Start);  // the attribute is restored whatever the text held
  }
}

TEST(Markup, CodeValuesFollowTheDigitRule) {
  EXPECT_EQ(MarkupCodeValue(""), 0);
  EXPECT_EQ(MarkupCodeValue("0a"), 10);
  EXPECT_EQ(MarkupCodeValue("FF"), 255);
  EXPECT_EQ(MarkupCodeValue("g"), 16);
  EXPECT_EQ(MarkupCodeValue("!"), -1);
  EXPECT_EQ(MarkupCodeValue("!!") & 0xFF, 0xEF);  // -1*16 - 1 = -17
  // Long codes wrap in 32 bits instead of failing.
  EXPECT_EQ(MarkupCodeValue("100000000") & 0xFF, 0);
  EXPECT_EQ(MarkupCodeValue("1000000007") & 0xFF, 7);
}

TEST(Markup, PlainWritesAfterMarkupUseTheStartAttribute) {
  tModelConsole C(20, 2, 0x07);
  WriteMarkup(C, "~0C~red");
  C.Write("x");
  EXPECT_EQ(C.Screen.At(0, 0).Attr, 0x0C);
  EXPECT_EQ(C.Screen.At(3, 0).Attr, 0x07);
}

TEST(Markup, BellInsideDataBeepsInsteadOfPrinting) {
  tModelConsole C(20, 2, 0x07);
  WriteMarkup(C, "a\x07" "b");
  EXPECT_EQ(C.Screen.Beeps(), 1);
  EXPECT_EQ(C.Screen.RowText(0), "ab");
}

TEST(Markup, DataIsShownAsItIs) {
  // Names with tildes, short DOS names among them, come out as written and
  // leave the colours of the line alone.
  for (std::string Name : {"C:\\PROGRA~1\\FE\\SETUP.CFG", "set~up.cfg", "~", "~~0C~", "a~"}) {
    SCOPED_TRACE(Name);
    std::vector<tRun> Runs = Render(std::string("[").append(MarkupData(Name).View()).append("]~0E~!"));
    ASSERT_EQ(Runs.size(), 2u);
    EXPECT_EQ(Runs[0].Text, "[" + Name + "]");
    EXPECT_EQ(Runs[0].Attr, Start);
    EXPECT_EQ(Runs[1].Text, "!");
  }
  // Cut at 255 bytes, a pair is kept whole or dropped.
  tShortString Cut = MarkupData(std::string(254, 'x') + "~y");
  EXPECT_EQ(Cut, std::string(254, 'x'));
  EXPECT_EQ(MarkupData(std::string(300, '~')).Length(), 254u);
}

}  // namespace
}  // namespace kelvane
