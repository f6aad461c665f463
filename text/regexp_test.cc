#include "text/regexp.h"

#include <gtest/gtest.h>

#include <random>
#include <regex>
#include <string>
#include <vector>

namespace kelvane {
namespace {

std::string Hex(const std::vector<uint8_t>& Bytes) {
  static const char Digits[] = "0123456789ABCDEF";
  std::string S;
  for (uint8_t B : Bytes) {
    if (!S.empty()) S += ' ';
    S += Digits[B >> 4];
    S += Digits[B & 15];
  }
  return S;
}

TEST(RegExp, CompilesToTheDocumentedByteProgram) {
  struct tCase {
    const char* Pattern;
    const char* Bytes;
  } Cases[] = {
      // marker | BRANCH -> END | EXACTLY "abc" -> END | END
      {"abc", "EA 06 0A 00 08 07 00 61 62 63 00 00 00 00"},
      // STAR holds its operand node, whose own next offset stays 0.
      {"a*", "EA 06 0B 00 0A 08 00 08 00 00 61 00 00 00 00"},
      // x? is BRANCH(x) BRANCH(NOTHING), both alternatives ending at END.
      {"x?", "EA 06 11 00 06 08 00 08 08 00 78 00 06 03 00 09 03 00 00 00 00"},
      // (a)+ loops through BACK: OPEN1 a CLOSE1 BRANCH(BACK->OPEN1) BRANCH(NOTHING) END.
      {"(a)+", "EA 06 1D 00 15 03 00 06 08 00 08 05 00 61 00 1F 03 00 06 06 00 07 11 00 06 03 00 09 03 00 00 00 00"},
      // An empty pattern is one empty branch.
      {"", "EA 06 06 00 09 03 00 00 00 00"},
  };
  for (const tCase& C : Cases) {
    tRegExp R;
    ASSERT_FALSE(R.Init(C.Pattern)) << C.Pattern << ": " << R.ErrorText.CStr();
    EXPECT_EQ(Hex(R.Program), C.Bytes) << C.Pattern;
  }
}

TEST(RegExp, SearchHints) {
  struct tCase {
    const char* Pattern;
    int StartChar;
    bool Anchored;
    const char* MustHave;
  } Cases[] = {
      {"abc", 'a', false, ""},
      {"^abc", -1, true, ""},
      {"a|b", -1, false, ""},           // two top-level alternatives: no hints
      {"x*abc", -1, false, "abc"},      // leading * makes the literal worth seeking
      {"x+abc", -1, false, ""},         // + is not an expensive start
      {"(a*b|c)de", -1, false, "de"},   // a group whose branch starts with *
      {"a*xy.zw", -1, false, "zw"},     // equally long: the later one wins
      {"a*bc*de", -1, false, "de"},     // bc* is b followed by c*
      {"\\0abc", -1, false, ""},        // a NUL literal gives no start character
  };
  for (const tCase& C : Cases) {
    tRegExp R;
    ASSERT_FALSE(R.Init(C.Pattern)) << C.Pattern;
    EXPECT_EQ(R.StartChar(), C.StartChar) << C.Pattern;
    EXPECT_EQ(R.Anchored(), C.Anchored) << C.Pattern;
    EXPECT_EQ(R.MustHave(), C.MustHave) << C.Pattern;
  }
}

struct tSubstCase {
  const char* Pattern;
  const char* Text;
  const char* Template;
  bool CaseSensitive;
  const char* Result;
};

void RunSubstCases(const std::vector<tSubstCase>& Cases) {
  for (const tSubstCase& C : Cases) {
    tShortString Error;
    tShortString Got = RegSubst(C.Pattern, C.Text, C.Template, C.CaseSensitive, &Error);
    EXPECT_EQ(Got.ToStdString(), C.Result)
        << "pattern [" << C.Pattern << "] text [" << C.Text << "] template [" << C.Template << "] "
        << (C.CaseSensitive ? "case-sensitive" : "ignoring case") << " error [" << Error.CStr() << "]";
  }
}

TEST(RegExp, MatchingRules) {
  RunSubstCases({
      {"a|ab", "ab", "&", true, "a"},             // the first alternative wins
      {"ab|a", "ab", "&", true, "ab"},
      {"b*", "abbb", "[&]", true, "[]"},         // leftmost, not longest
      {"a.*b", "axbyb", "&", true, "axbyb"},      // greedy, backing off to the last b
      {"colou?r", "my color", "&", true, "color"},
      {"(ab)+", "xababx", "&/\\0", true, "abab/ab"},
      {"(a|b)*c", "abac", "&/\\0", true, "abac/a"},  // a group holds its last pass
      {"^-(.*)$", "-echo.one", "\\0", false, "echo.one"},
      {"^-(.*)$", "x-echo.one", "\\0", false, ""},
      {"a^b", "a^b", "&", true, ""},              // ^ in the middle anchors too
      {"$", "abc", "[&]", true, "[]"},            // the end of the text is a position
      {"a[^b]", "a", "&", true, ""},              // [^...] never takes the end
      {"a.", "a", "&", true, ""},
      {"x+", "axxxb", "&", true, "xxx"},
      {"x+y", "xxxz xy", "&", true, "xy"},
      {"ab*c", "abbbc", "&", true, "abbbc"},      // the quantifier binds to b alone
      {"ab*c", "abab", "&", true, ""},
      {"x*abc", "zzabc", "&", true, "abc"},       // the must-have literal is found
      {"x*abc", "zzabd", "&", true, ""},
  });
}

TEST(RegExp, CaseRules) {
  RunSubstCases({
      {"a*B", "AAb", "&", false, "AAb"},
      {"a*B", "AAb", "&", true, ""},
      {"abc", "ABC", "&", false, "ABC"},
      {"abc", "ABC", "&", true, ""},
      {"[a-z]+", "ABC", "&", false, ""},          // brackets compare exactly
      {"[a-z]+", "xABC", "&", false, "x"},
      {"[^a-z]+", "abCD", "&", false, "CD"},
      {"x*ABC", "zzabc", "&", false, "abc"},      // must-have literal ignores case too
      {"e+", "EeE", "&", false, "EeE"},
      // A one-letter Cyrillic literal ignores case; a longer one only ASCII.
      {"\xA0", "\x80", "&", false, "\x80"},
      {"\xA0", "\x80", "&", true, ""},
      {"\xA0*b", "\x80\xA0" "B", "&", false, "\x80\xA0" "B"},
      {"\xA0\xA1", "\x80\xA1", "&", false, ""},
      {"\xA0\xA1", "\xA0\xA1", "&", false, "\xA0\xA1"},
      {"x\xA0", "X\xA0", "&", false, "X\xA0"},
      {"x\xA0", "X\x80", "&", false, ""},
      // A Cyrillic first letter of a longer literal must match in case.
      {"\xE0x", "\x90X", "&", false, ""},
      // STAR lookahead follows the one-character rule.
      {"a*\xE0", "aa\x90", "&", false, "aa\x90"},
  });
}

TEST(RegExp, EscapesAndBrackets) {
  RunSubstCases({
      {"\\x41", "zA", "&", true, "A"},
      {"\\x4", "z\x04", "&", true, "\x04"},
      {"\\x4g", "\x04g", "&", true, "\x04g"},
      {"\\xg", "xg", "&", true, "xg"},             // \x without a digit is x
      {"\\101", "zA", "&", true, "A"},
      {"\\1012", "A2", "&", true, "A2"},            // at most three octal digits
      {"\\t", "a\tb", "[&]", true, "[\t]"},
      {"\\q", "q", "&", true, "q"},
      {"a\\.b", "axb a.b", "&", true, "a.b"},
      {"\\\\", "a\\b", "&", true, "\\"},
      {"[]a]+", "x]a]b", "&", true, "]a]"},
      {"[^]a]+", "]a]xy", "&", true, "xy"},
      {"[-a]+", "b-a-", "&", true, "-a-"},
      {"[a-]+", "b-a-", "&", true, "-a-"},
      {"[a-c-e]+", "xabcdey", "&", true, "abcde"},
      {"[\\t ]+", "a \t b", "[&]", true, "[ \t ]"},
      {"[\\]]", "a]", "&", true, "]"},
      {"[^0-9]+", "12ab3", "&", true, "ab"},
      // An escaped lower end starts the range at its own value.
      {"[\\x41-C]+", "2ABCD", "&", true, "ABC"},
      {"[A-\\x43]+", "2ABCD", "&", true, "ABC"},
      {"[\\x00a]", "a", "&", true, "a"},           // a NUL member does not end the set
      // A NUL literal never matches: nothing in the text is a NUL.
      {"a\\x00", "a", "&", true, ""},
      {"a\\0*", "ab", "&", true, "a"},
      {"(\\0)*x", "x", "&", true, "x"},
      {"[\\0]", "a", "&", true, ""},
  });
}

TEST(RegExp, Templates) {
  RunSubstCases({
      {"(x)(y)", "xy", "\\1\\0", true, "yx"},
      {"(x)(y)", "xy", "&-&", true, "xy-xy"},
      {"(x)(y)", "xy", "\\9", true, ""},
      {"(x)(y)", "xy", "[\\2]", true, "[]"},        // a group that does not exist
      {"(a)|b", "b", "[\\0]", true, "[]"},          // a group that took no part
      {"(a)(b)(c)(d)(e)(f)(g)(h)(i)", "abcdefghi", "\\8\\7\\6\\5\\4\\3\\2\\1\\0", true, "ihgfedcba"},
      {"x", "x", "\\&", true, "&"},
      {"x", "x", "a\\\\b", true, "a\\b"},
      {"x", "x", "ab\\", true, "ab\\"},               // a final backslash stays
      {"x", "x", "\\x41\\n", true, "A\n"},
      {"(x)", "x", "\\101", true, "01"},              // digits are groups, never octal
      {"x", "x", "\\q", true, "q"},
      // Empty arguments give the empty result at once.
      {"", "x", "&", true, ""},
      {"x", "", "&", true, ""},
      {"x", "x", "", true, ""},
      {"^$", "", "matched", true, ""},
  });
}

TEST(RegExp, ExpansionIsCutAt255) {
  std::string Text(200, 'e');
  tShortString Got = RegSubst("(.*)", Text, "&\\0", false);
  EXPECT_EQ(Got.Length(), 255u);
  EXPECT_EQ(Got.ToStdString(), std::string(255, 'e'));

  tRegExp R;
  ASSERT_FALSE(R.Init("(.*)"));
  ASSERT_TRUE(R.Exec(false, Text.c_str()));
  char Small[8];
  EXPECT_FALSE(R.Substitute("&", Small, sizeof Small));
  EXPECT_STREQ(Small, "eeeeeee");
}

TEST(RegExp, PatternsLongerThan255AreCut) {
  std::string Pattern(255, 'a');
  Pattern += "b";
  tRegExp R;
  ASSERT_FALSE(R.Init(Pattern.c_str()));
  EXPECT_TRUE(R.Exec(true, std::string(255, 'a').c_str()));
}

TEST(RegExp, CompileErrors) {
  struct tCase {
    const char* Pattern;
    const char* Error;
  } Cases[] = {
      {"(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)", "too many ()"},
      {"((((((((((a))))))))))", "too many ()"},
      {"(ab", "unmatched ()"},
      {"ab)", "unmatched ()"},
      {"(", "unmatched ()"},
      {"(a*)*", "*+ operand could be empty"},
      {"(a|)+", "*+ operand could be empty"},
      {"^*", "*+ operand could be empty"},
      {"$+", "*+ operand could be empty"},
      {"x**", "nested *?+"},
      {"a?*", "nested *?+"},
      {"(ab)+?", "nested *?+"},
      {"[z-a]", "invalid [] range"},
      {"[\\x43-A]", "invalid [] range"},
      {"[abc", "unmatched []"},
      {"[", "unmatched []"},
      {"[a\\", "unmatched []"},
      {"[a-\\", "unmatched []"},
      {"ab\\", "trailing \\"},
      {"*a", "?+* follows nothing"},
      {"a|+b", "?+* follows nothing"},
      {"(?a)", "?+* follows nothing"},
  };
  for (const tCase& C : Cases) {
    tRegExp R;
    EXPECT_TRUE(R.Init(C.Pattern)) << C.Pattern;
    EXPECT_EQ(R.ErrorText.ToStdString(), C.Error) << C.Pattern;
    EXPECT_TRUE(R.Program.empty()) << C.Pattern;
    EXPECT_FALSE(R.Exec(true, "a")) << C.Pattern;
  }
  // Sound patterns next to them compile.
  for (const char* Ok : {"(a)(b)(c)(d)(e)(f)(g)(h)(i)", "(a*)?", "(a*b)*", "[a-a]", "a|", "|", "()", "a\\*"}) {
    tRegExp R;
    EXPECT_FALSE(R.Init(Ok)) << Ok << ": " << R.ErrorText.CStr();
    EXPECT_TRUE(R.ErrorText.Empty()) << Ok;
  }
  tRegExp R;
  EXPECT_TRUE(R.Init(nullptr));
  EXPECT_EQ(R.ErrorText, "NULL argument");
  // A failed compilation leaves no program behind, also after a good one.
  ASSERT_FALSE(R.Init("a"));
  EXPECT_TRUE(R.Init("x**"));
  EXPECT_TRUE(R.Program.empty());
  char Out[16];
  EXPECT_TRUE(R.Substitute("&", Out, sizeof Out));
  EXPECT_EQ(R.ErrorText, "NULL parm to regsub");
}

TEST(RegExp, DamagedProgramsAndArgumentsFailCleanly) {
  tRegExp R;
  ASSERT_FALSE(R.Init("a"));
  EXPECT_FALSE(R.Exec(true, nullptr));
  EXPECT_EQ(R.ErrorText, "NULL parameter");

  char Out[16];
  ASSERT_TRUE(R.Exec(true, "a"));
  EXPECT_TRUE(R.Substitute(nullptr, Out, sizeof Out));
  EXPECT_EQ(R.ErrorText, "NULL parm to regsub");
  EXPECT_TRUE(R.Substitute("&", nullptr, 16));
  EXPECT_EQ(R.ErrorText, "NULL parm to regsub");

  struct tCase {
    const char* Pattern;
    size_t Offset;  // byte of the program to change
    uint8_t Value;
    const char* Error;
  } Cases[] = {
      {"a", 0, 0x00, "corrupted program"},      // the marker
      {"a", 1, 99, "memory corruption"},         // a kind outside the table
      {"a", 1, 20, "memory corruption"},         // OPEN 0 does not exist
      {"abc", 11, 9, "corrupted pointers"},      // END became NOTHING: the chain runs out
      {"abc", 2, 5, "corrupted pointers"},       // BRANCH points into the middle of a literal
      {"abc", 2, 200, "corrupted pointers"},     // ... or past the end
      {"abc", 10, 'x', "corrupted pointers"},    // the literal lost its NUL
      {".*", 7, 1, "internal foulup"},           // STAR over BOL
  };
  for (const tCase& C : Cases) {
    tRegExp D;
    ASSERT_FALSE(D.Init(C.Pattern));
    ASSERT_LT(C.Offset, D.Program.size());
    D.Program[C.Offset] = C.Value;
    EXPECT_FALSE(D.Exec(true, "xabc")) << C.Pattern << " @" << C.Offset;
    EXPECT_EQ(D.ErrorText.ToStdString(), C.Error) << C.Pattern << " @" << C.Offset;
  }
  // A truncated program.
  tRegExp T;
  ASSERT_FALSE(T.Init("abc"));
  T.Program.resize(6);
  EXPECT_FALSE(T.Exec(true, "abc"));
  EXPECT_FALSE(T.ErrorText.Empty());

  tRegExp S;
  ASSERT_FALSE(S.Init("a"));
  ASSERT_TRUE(S.Exec(true, "a"));
  S.Program[0] = 0;
  EXPECT_TRUE(S.Substitute("&", Out, sizeof Out));
  EXPECT_EQ(S.ErrorText, "damaged regexp fed to regsub");

  // The text changed under a match before it was substituted.
  tRegExp M;
  char Text[] = "xabcx";
  ASSERT_FALSE(M.Init("a.c"));
  ASSERT_TRUE(M.Exec(true, Text));
  Text[2] = 0;
  EXPECT_TRUE(M.Substitute("<&>", Out, sizeof Out));
  EXPECT_EQ(M.ErrorText, "damaged match string");
}

TEST(RegExp, BacktrackingHasABudget) {
  // Nested alternatives on a crafted line: exponential without the budget.
  std::string Line(254, 'a');
  Line += 'b';
  tShortString Error;
  EXPECT_EQ(RegSubst("(a|aa)*$", Line, "&", false, &Error), "");
  EXPECT_EQ(Error, "too much backtracking");

  tRegExp R;
  ASSERT_FALSE(R.Init("((a+)+)+c"));
  EXPECT_FALSE(R.Exec(true, std::string(40, 'a').c_str()));
  EXPECT_EQ(R.ErrorText, "too much backtracking");
  // The same object matches sound input afterwards.
  EXPECT_TRUE(R.Exec(true, "aac"));

  // The same patterns are fine where the line lets them finish.
  EXPECT_EQ(RegSubst("(a|aa)*$", std::string(254, 'a'), "&", false, &Error), std::string(254, 'a'));
  EXPECT_TRUE(Error.Empty());
  // A deep pattern over a whole line stays within the budget and the stack.
  std::string Deep = "(";
  for (int I = 0; I < 100; ++I) Deep += "a?";
  Deep += "x)+";
  std::string Xs(255, 'x');
  EXPECT_EQ(RegSubst(Deep, Xs, "&", true, &Error), Xs) << Error.CStr();
  // Polynomial work on a whole line is not cut short.
  EXPECT_EQ(RegSubst("(.*)(.*)=(.*)$", std::string(200, 'k') + "=v", "\\2", true, &Error), "v")
      << Error.CStr();
}

TEST(RegExp, EveryNodeVisitIsChargedToTheBudget) {
  // An anchored run of 200 single-character nodes backtracks nowhere: it
  // makes about 200 visits at the one place it is tried. A budget below
  // that ends it, one above lets it through.
  const std::string Pattern = "^" + std::string(200, '.');
  const std::string Line(255, 'x');
  for (long Budget : {150L, 400L}) {
    SCOPED_TRACE(Budget);
    tRegExp R;
    ASSERT_FALSE(R.Init(Pattern.c_str()));
    R.StepBudget = Budget;
    EXPECT_EQ(R.Exec(true, Line.c_str()), Budget > 200);
    EXPECT_EQ(R.ErrorText, Budget > 200 ? "" : "too much backtracking");
  }
}

// Generated patterns over a small alphabet, checked against the standard
// library's ECMAScript engine, which also takes the leftmost match with the
// first alternative that succeeds and greedy quantifiers. Only the whole
// match is compared: captures inside repetitions are kept differently.
std::string RandomPattern(std::mt19937& Rng, int Depth, bool Brackets) {
  auto Pick = [&](int N) { return static_cast<int>(Rng() % static_cast<unsigned>(N)); };
  std::string P;
  int Pieces = 1 + Pick(3);
  for (int I = 0; I < Pieces; ++I) {
    int Kind = Pick(Depth > 0 ? 9 : 7);
    std::string Atom;
    switch (Kind) {
      case 0: Atom = "a"; break;
      case 1: Atom = "b"; break;
      case 2: Atom = "ab"; break;
      case 3: Atom = "."; break;
      case 4: Atom = Brackets ? "[ab]" : "B"; break;
      case 5: Atom = Brackets ? "[^a]" : "A"; break;
      case 6: Atom = Pick(4) == 0 ? (Pick(2) ? "^" : "$") : "c"; break;
      default:
        Atom = "(" + RandomPattern(Rng, Depth - 1, Brackets);
        if (Pick(2)) Atom += "|" + RandomPattern(Rng, Depth - 1, Brackets);
        Atom += ")";
        break;
    }
    P += Atom;
    int Q = Pick(6);
    if (Q == 0) P += "*";
    if (Q == 1) P += "+";
    if (Q == 2) P += "?";
  }
  return P;
}

TEST(RegExp, AgreesWithAnotherBacktrackingEngine) {
  std::mt19937 Rng(20261208);
  int Compared = 0;
  for (int Round = 0; Round < 3000; ++Round) {
    bool CaseSensitive = Round % 2 == 0;
    std::string Pattern = RandomPattern(Rng, 2, CaseSensitive);
    tRegExp R;
    if (R.Init(Pattern.c_str())) continue;  // e.g. (a?)* is refused here
    auto Flags = std::regex::ECMAScript;
    if (!CaseSensitive) Flags |= std::regex::icase;
    std::regex Reference;
    try {
      Reference.assign(Pattern, Flags);
    } catch (const std::regex_error&) {
      continue;
    }
    for (int T = 0; T < 6; ++T) {
      std::string Text;
      int Len = static_cast<int>(Rng() % 9);
      for (int I = 0; I < Len; ++I) Text += "abcAB"[Rng() % (CaseSensitive ? 3 : 5)];
      std::smatch M;
      bool Want = std::regex_search(Text, M, Reference);
      bool Got = R.Exec(CaseSensitive, Text.c_str());
      ASSERT_EQ(Got, Want) << "pattern [" << Pattern << "] text [" << Text << "]";
      if (Got) {
        EXPECT_EQ(R.GroupStart(0) - Text.c_str(), M.position(0)) << "pattern [" << Pattern << "] text [" << Text << "]";
        EXPECT_EQ(R.GroupEnd(0) - R.GroupStart(0), M.length(0)) << "pattern [" << Pattern << "] text [" << Text << "]";
      }
      ++Compared;
    }
  }
  EXPECT_GT(Compared, 5000);
}

}  // namespace
}  // namespace kelvane
