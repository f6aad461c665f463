#include "text/control_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/clock.h"
#include "runtime/test_dir.h"

namespace kelvane {
namespace {

using testing::PutFile;
using testing::tRuntimeTempDir;

// 7 March 2026, 09:05:00: single-digit fields show that no zeros lead.
class tFixedClock : public tClock {
 public:
  uint32_t Ticks() override { return 0; }
  tLocalTime Now() override {
    tLocalTime T;
    T.Year = 2026;
    T.Month = 3;
    T.Day = 7;
    T.Hour = 9;
    T.Min = 5;
    T.Sec = 0;
    return T;
  }
  void Sleep(uint32_t) override {}
};

class ControlReader : public ::testing::Test {
 protected:
  void SetUp() override { SetClock(&Clock_); }
  void TearDown() override { SetClock(nullptr); }

  // Reads Text through a reader with the keywords Subject (0), FromAddr (1)
  // and FromName (2) registered.
  void ReadText(tControlReader& R, std::string_view Text, bool Register = true) {
    if (Register)
      for (const char* K : {"Subject", "FromAddr", "FromName"}) R.AddKeyword(K);
    tMemoryStream S;
    S.WriteStr(Text);
    S.Seek(0);
    ASSERT_FALSE(R.ReadFrom(S));
  }
  static std::vector<std::string> Values(const tControlReader& R, long K) {
    std::vector<std::string> V;
    for (size_t I = 0; I < R.ValueCount(K); ++I) V.push_back(R.Value(K, static_cast<long>(I)).ToStdString());
    return V;
  }
  static std::vector<long> Wrong(const tControlReader& R) {
    std::vector<long> V;
    for (size_t I = 0; I < R.WrongLineCount(); ++I) V.push_back(R.WrongLine(static_cast<long>(I)));
    return V;
  }

  tFixedClock Clock_;
};

using tStrings = std::vector<std::string>;

TEST_F(ControlReader, LineSyntax) {
  struct tCase {
    const char* Line;
    tStrings Subjects;  // values of Subject after this one line
    bool WrongLine;
  } Cases[] = {
      {"Subject hello world", {"hello world"}, false},
      {"subject hello", {"hello"}, false},                 // keywords in any case
      {"SUBJECT\thello\t", {"hello"}, false},
      {"  \t Subject   hello  ", {"hello"}, false},
      {"Subject", {}, false},                              // no value: handled, nothing stored
      {"Subject   ", {}, false},
      {"Subject \"\"", {}, false},                         // quotes alone leave nothing
      {"Subject=hello", {}, true},                         // glued to its value: one word
      {"Subjects hello", {}, true},
      {"Subj hello", {}, true},
      {"Subject \"  a b  \"", {"  a b  "}, false},         // quotes keep inner blanks
      {"Subject \"\"a\"\"", {"a"}, false},                 // every quote at the ends goes
      {"Subject a\"b", {"a\"b"}, false},
      {"Subject x ; a comment", {"x"}, false},
      {"Subject \"a;b\"", {"a"}, false},                   // ";" in quotes starts a comment too
      {"Subject;x", {}, false},
      {"; Subject x", {}, false},
      {"   \t  ", {}, false},
      {"", {}, false},
      {"Frobnicate 1", {}, true},
      {"\x1A", {}, true},                                  // no end-of-file mark in text
  };
  for (const tCase& C : Cases) {
    tControlReader R;
    ReadText(R, std::string(C.Line) + "\r\n");
    EXPECT_EQ(Values(R, 0), C.Subjects) << "[" << C.Line << "]";
    EXPECT_EQ(Wrong(R), C.WrongLine ? std::vector<long>{1} : std::vector<long>{}) << "[" << C.Line << "]";
  }
}

TEST_F(ControlReader, FirstMatchingKeywordWinsAndNeedsAWholeWord) {
  tControlReader R;
  R.AddKeyword("From");
  R.AddKeyword("FromName");
  R.AddKeyword("from");  // never reached: "From" takes its lines first
  tMemoryStream S;
  S.WriteStr("FromName Joe\nFROM x\nFromNam y\n");
  S.Seek(0);
  ASSERT_FALSE(R.ReadFrom(S));
  EXPECT_EQ(Values(R, 0), (tStrings{"x"}));
  EXPECT_EQ(Values(R, 1), (tStrings{"Joe"}));
  EXPECT_EQ(R.ValueCount(2), 0u);
  EXPECT_EQ(Wrong(R), (std::vector<long>{3}));

  // What no keyword took, as the keywords were tried on it: no comment,
  // no outer blanks, macros expanded.
  tControlReader R2;
  ReadText(R2, "@Define X FromAdr\n  X 2:5020/1 ; c\n@Define E\nE\n");
  EXPECT_EQ(Wrong(R2), (std::vector<long>{2, 4}));
  EXPECT_EQ(R2.WrongLineText(0), "FromAdr 2:5020/1");
  EXPECT_EQ(R2.WrongLineText(1), "");
  EXPECT_EQ(R2.WrongLineText(2), "");
}

TEST_F(ControlReader, LineEndsAndNumbering) {
  struct tCase {
    const char* Name;
    std::string Text;
    tStrings Subjects;
    std::vector<long> Wrong;
  } Cases[] = {
      {"CR LF", "Subject a\r\nbad\r\n\r\nSubject b\r\nbad\r\n", {"a", "b"}, {2, 5}},
      {"LF", "Subject a\nbad\n\nSubject b\nbad\n", {"a", "b"}, {2, 5}},
      {"CR", "Subject a\rbad\r\rSubject b\rbad\r", {"a", "b"}, {2, 5}},
      {"mixed", "Subject a\nbad\r\n\rSubject b\r\nbad", {"a", "b"}, {2, 5}},
      {"no final line end", "Subject a\r\nSubject b", {"a", "b"}, {}},
      {"empty file", "", {}, {}},
      {"only a line end", "\r\n", {}, {}},
      {"LF CR is two line ends", "bad\n\rbad", {}, {1, 3}},
      // A DOS editor's end-of-file bytes end the file; inside it they are
      // text like any other byte.
      {"end-of-file bytes", "Subject a\r\n\x1A", {"a"}, {}},
      {"end-of-file bytes after a last line", "Subject a\x1A\x1A", {"a"}, {}},
      {"0x1A inside the file", "Subject a\x1A\r\n\x1A\r\nbad\x1A", {"a\x1A"}, {2, 3}},
  };
  for (const tCase& C : Cases) {
    tControlReader R;
    ReadText(R, C.Text);
    EXPECT_EQ(Values(R, 0), C.Subjects) << C.Name;
    EXPECT_EQ(Wrong(R), C.Wrong) << C.Name;
  }
}

TEST_F(ControlReader, LongLinesAreCutAt255) {
  std::string Value(300, 'v');
  tControlReader R;
  // The cut drops the rest of the line only: the next line is read whole.
  ReadText(R, "Subject " + Value + "\r\nFromName Joe\r\n");
  ASSERT_EQ(R.ValueCount(0), 1u);
  EXPECT_EQ(R.Value(0, 0).ToStdString(), std::string(255 - 8, 'v'));
  EXPECT_EQ(Values(R, 2), (tStrings{"Joe"}));
  EXPECT_TRUE(Wrong(R).empty());

  // A line of 4097 bytes straddles the read buffer.
  tControlReader R2;
  ReadText(R2, "Subject x" + std::string(4100, ' ') + "y\nSubject z\n");
  EXPECT_EQ(Values(R2, 0), (tStrings{"x", "z"}));
}

TEST_F(ControlReader, Macros) {
  struct tCase {
    const char* Name;
    const char* Text;
    tStrings Subjects;
    std::vector<long> Wrong;
  } Cases[] = {
      {"definition", "@Define HUB 1:23/45\nSubject HUB\n", {"1:23/45"}, {}},
      {"any case", "@define hub x\nSubject Hub HUB hUb\n", {"x x x"}, {}},
      {"before the definition", "Subject HUB\n@Define HUB x\nSubject HUB\n", {"HUB", "x"}, {}},
      {"inside a word", "@Define X 1\nSubject XX aXb\n", {"11 a1b"}, {}},
      // The second line defines a macro named 1:23/45; HUB keeps its value,
      // which that later macro then replaces.
      {"definition lines are expanded first",
       "@Define HUB 1:23/45\n@Define HUB x\nSubject HUB 1:23/45\n", {"x x"}, {}},
      {"the @ escape redefines", "@Define HUB 1\n@Define @HUB 2\nSubject HUB @HUB\n", {"2 HUB"}, {}},
      {"empty value", "@Define X\nX\nSubject aXb\n", {"ab"}, {2}},
      {"extra words ignored", "@Define X 1 2 3\nSubject X\n", {"1"}, {}},
      {"bare @Define", "@Define\n@Define   \n", {}, {}},
      {"@Define needs its own word", "@DefineX 1\nSubject X\n", {"X"}, {1}},
      {"a value with a later macro's name",
       "@Define P Q\n@Define Q r\nSubject P Q\n", {"r r"}, {}},
      {"a value with an earlier macro's name",
       "@Define Q r\n@Define P @Q\nSubject P Q\n", {"Q r"}, {}},
      {"a value holding its own name", "@Define A AA\nSubject A\n", {"AA"}, {}},
      {"redefinition keeps the place in the list",
       "@Define P x\n@Define Q r\n@Define @P @Q\nSubject P\n", {"r"}, {}},
      {"an @ from this macro's own value is no escape", "@Define A @\nSubject AA @A\n", {"@@ A"}, {}},
      {"a line that expands to nothing", "@Define X\nX X\n", {}, {2}},
      {"a macro can make a keyword", "@Define S Subject\nS v\n", {"v"}, {}},
  };
  for (const tCase& C : Cases) {
    tControlReader R;
    ReadText(R, C.Text);
    EXPECT_EQ(Values(R, 0), C.Subjects) << C.Name;
    EXPECT_EQ(Wrong(R), C.Wrong) << C.Name;
  }
}

TEST_F(ControlReader, DateMacros) {
  tControlReader R;
  ReadText(R,
           "Subject @cDay.@cMonth.@cYear @cHour:@cMin:@cSec @cTextMonth\n"
           "Subject @cyear @CYEAR @@cYear x@cTextMonth\n");
  EXPECT_EQ(Values(R, 0), (tStrings{"7.3.2026 9:5:0 Mar", "2026 2026 @cYear xMar"}));
}

TEST_F(ControlReader, ExpansionLimits) {
  std::string W(240, 'W'), Z(240, 'Z');
  std::string Defs = "@Define Y " + W + "\n@Define W " + Z + "\n@Define Z\n";
  // One Y: 57600 Z's, which the empty Z then removes; the tail survives.
  tControlReader R;
  ReadText(R, Defs + "Subject Y tail\n");
  EXPECT_EQ(Values(R, 0), (tStrings{"tail"}));
  // Two Y's would make 115200 bytes: the working text stops at 65535 and
  // the tail is lost with everything past it.
  tControlReader R2;
  ReadText(R2, Defs + "Subject YY tail\n");
  EXPECT_EQ(R2.ValueCount(0), 0u);
  EXPECT_TRUE(Wrong(R2).empty());
  // An expansion longer than 255 bytes is cut to 255.
  tControlReader R3;
  ReadText(R3, "@Define L " + std::string(200, 'l') + "\nSubject L L\n");
  ASSERT_EQ(R3.ValueCount(0), 1u);
  EXPECT_EQ(R3.Value(0, 0).ToStdString(), (std::string(200, 'l') + " " + std::string(255 - 8 - 201, 'l')));
}

TEST_F(ControlReader, ValuesKnowTheirLineNumbers) {
  // Comments, empty lines, macro definitions, empty values and a CR LF
  // count in the numbering as wrong lines do.
  tControlReader R;
  ReadText(R, "; c\r\n\r\n@Define X y\nSubject X\nSubject\rwrong\nFromAddr 1\nSubject z");
  EXPECT_EQ(Values(R, 0), (tStrings{"y", "z"}));
  EXPECT_EQ(R.ValueLine(0, 0), 4);
  EXPECT_EQ(R.ValueLine(0, 1), 8);
  EXPECT_EQ(R.ValueLine(1, 0), 7);
  EXPECT_EQ(Wrong(R), (std::vector<long>{6}));
}

TEST_F(ControlReader, ReadsFilesAndReportsWhatItCannotRead) {
  tRuntimeTempDir Dir;
  std::string First = Dir / "first.ctl", Second = Dir / "second.ctl";
  PutFile(First, "Subject a\nbad\n");
  PutFile(Second, "Subject b\n\nworse\n");

  tControlReader R;
  for (const char* K : {"Subject", "FromAddr"}) R.AddKeyword(K);
  ASSERT_FALSE(R.Read(First));
  ASSERT_FALSE(R.Read(Second));
  // Values add up; the wrong lines are the second file's.
  EXPECT_EQ(Values(R, 0), (tStrings{"a", "b"}));
  EXPECT_EQ(Wrong(R), (std::vector<long>{3}));

  EXPECT_TRUE(R.Read(Dir / "missing.ctl"));
  EXPECT_TRUE(R.Read(Dir.Path()));  // a directory is no file
  tControlReader NoKeywords;
  EXPECT_TRUE(NoKeywords.Read(First));

  // Accessors out of range do not fail.
  EXPECT_EQ(R.ValueCount(-1), 0u);
  EXPECT_EQ(R.ValueCount(2), 0u);
  EXPECT_EQ(R.Value(0, 2), "");
  EXPECT_EQ(R.Value(0, -1), "");
  EXPECT_EQ(R.Value(5, 0), "");
  EXPECT_EQ(R.ValueLine(0, 2), -1);
  EXPECT_EQ(R.ValueLine(5, 0), -1);
  EXPECT_EQ(R.WrongLine(1), -1);
  EXPECT_EQ(R.WrongLine(-1), -1);
}

TEST(MacroEngine, DefineAndExpand) {
  tMacroEngine E;
  size_t Builtin = E.Count();
  EXPECT_EQ(Builtin, 7u);
  E.Define("hub", "2:5020/1");
  E.Define("HUB", "2:5020/2");  // same name in another case: a new value, same place
  E.Define("", "ignored");
  ASSERT_EQ(E.Count(), Builtin + 1);
  EXPECT_EQ(E.At(Builtin).Name, "hub");
  tShortString T = "To hub, Hub and xHUBx; not hu b";
  E.Expand(T);
  EXPECT_EQ(T, "To 2:5020/2, 2:5020/2 and x2:5020/2x; not hu b");
  tShortString Empty;
  E.Expand(Empty);
  EXPECT_TRUE(Empty.Empty());
}

}  // namespace
}  // namespace kelvane
