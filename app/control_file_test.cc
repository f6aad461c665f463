#include "app/control_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/test_dir.h"

namespace kelvane {
namespace {

using testing::PutFile;
using testing::tRuntimeTempDir;
using tStrings = std::vector<std::string>;

tStrings Members(const tSortedStrings& S) {
  tStrings V;
  for (size_t I = 0; I < S.Count(); ++I) V.push_back(S.At(I).ToStdString());
  return V;
}
tStrings Members(const tStringList& S) {
  tStrings V;
  for (const tShortString& X : S) V.push_back(X.ToStdString());
  return V;
}

class ControlFile : public ::testing::Test {
 protected:
  // Loads Text as a control file into Settings and WrongLines.
  void Load(const std::string& Text) {
    std::string Name = Dir_ / "kelv.ctl";
    PutFile(Name, Text);
    ASSERT_FALSE(LoadControlFile(Name, Settings, WrongLines));
  }
  std::vector<long> Wrong() const {
    std::vector<long> V;
    for (const tWrongLine& W : WrongLines) V.push_back(W.Line);
    return V;
  }
  // "N: reason" for each wrong line, or "N" alone.
  tStrings Reported() const { return Report(WrongLines); }
  static tStrings Report(const tCollection<tWrongLine>& Lines) {
    tStrings V;
    for (const tWrongLine& W : Lines)
      V.push_back(std::to_string(W.Line) + (W.Reason.Empty() ? "" : ": " + W.Reason.ToStdString()));
    return V;
  }

  tRuntimeTempDir Dir_;
  tControlSettings Settings;
  tCollection<tWrongLine> WrongLines;
};

TEST_F(ControlFile, NamesSubjectsAndStopStringsAreUpperCasedSetsInByteOrder) {
  Load("FromName John Doe\n"
       "FromName JOHN DOE\n"       // the same member
       "fromname Al\n"
       "FromName \x84\xA5\xA4\n"  // Cyrillic lower case is folded as well
       "ToName Robot\n"
       "Subject ; none\n"            // empty: accepted, nothing recorded
       "Subject \"  Remove Me  \"\n"
       "StopScanAfter ---\n"
       "StopScanAfter --- \n"
       "StopScanAfter tearline\n");
  EXPECT_EQ(Members(Settings.FromNames), (tStrings{"AL", "JOHN DOE", "\x84\x85\x84"}));
  EXPECT_EQ(Members(Settings.ToNames), (tStrings{"ROBOT"}));
  EXPECT_EQ(Members(Settings.Subjects), (tStrings{"  REMOVE ME  "}));
  EXPECT_EQ(Members(Settings.StopStrings), (tStrings{"---", "TEARLINE"}));
  EXPECT_TRUE(Members(Settings.FromAddrs).empty());
  EXPECT_TRUE(Wrong().empty());
}

TEST_F(ControlFile, AddressesAreNetmailAddressesOrWrongLines) {
  // What cannot be a netmail address places no condition and is told.
  Load("FromAddr 2:463/1.0\n"
       "FromAddr 2:463/1\n"           // the same member
       "FromAddr 02:0463/001.05\n"    // as netmail shows it
       "FromAddr 2:463/1@xnet\n"
       "FromAddr .0\n"
       "FromAddr 463/1\n"
       "FromAddr 2:463/1.\n"
       "FromAddr 2:463/65536\n"
       "FromAddr 2:463.1/2\n"
       "FromAddr 2:463/1.0.0\n"
       "ToAddr 2:5020/1.0@fidonet\n"
       "ToAddr garbage\n"
       "ToAddr 0:0/0.65535\n");
  EXPECT_EQ(Members(Settings.FromAddrs), (tStrings{"2:463/1", "2:463/1.5"}));
  EXPECT_EQ(Members(Settings.ToAddrs), (tStrings{"0:0/0.65535"}));
  const std::string None = "]: not an address (zone:net/node or zone:net/node.point), ignored";
  const std::string Domain = "]: an address with a domain, which netmail addresses never carry, ignored";
  EXPECT_EQ(Reported(), (tStrings{"4: FromAddr [2:463/1@xnet" + Domain, "5: FromAddr [.0" + None,
                                  "6: FromAddr [463/1" + None, "7: FromAddr [2:463/1." + None,
                                  "8: FromAddr [2:463/65536" + None, "9: FromAddr [2:463.1/2" + None,
                                  "10: FromAddr [2:463/1.0.0" + None, "11: ToAddr [2:5020/1.0@fidonet" + Domain,
                                  "12: ToAddr [garbage" + None}));
}

TEST_F(ControlFile, WhatKelvaneWarnsOf) {
  struct tCase {
    const char* Text;
    long Utf8Line;
    bool AnySender;
  } Cases[] = {
      {"ToName Robot\n", 0, true},
      {"FromAddr 2:463/1\n", 0, false},
      {"FromAddr 2:463/1@xnet\nFromName\n", 0, true},  // neither took effect
      // UTF-8 in a value compared with netmail, not in a comment, a wrong
      // line or a file name; code page 866 is no UTF-8.
      {"FromName Sysop\n; \xd0\x9f\xd1\x80\xd0\xb8\nToName \x8f\xe0\xa8\xa2\xa5\xe2\n", 0, false},
      {"FromName x\nFastEchoConfig \xd0\x9f.cfg\n\xd0\x9f\xd1\x80 x\n", 0, false},
      {"FromName x\nStopScanAfter ok\nMatchStr ^\xd0\x9f(.*)$ | \\0\nSubject \xd0\x9f\xd1\x80\xd0\xb8\n", 3, false},
  };
  for (const tCase& C : Cases) {
    SCOPED_TRACE(C.Text);
    tControlSettings S;
    tRuntimeTempDir Dir;
    PutFile(Dir / "kelv.ctl", C.Text);
    tCollection<tWrongLine> Wrong;
    ASSERT_FALSE(LoadControlFile(Dir / "kelv.ctl", S, Wrong));
    EXPECT_EQ(S.Utf8Line, C.Utf8Line);
    EXPECT_EQ(AcceptsAnySender(S), C.AnySender);
  }
  EXPECT_EQ(Utf8Warning("kelv.ctl", 3),
            "[kelv.ctl] looks like UTF-8 text (from line 3): its letters beyond ASCII never match code page 866 "
            "netmail");
}

TEST(NormalizeAddress, DropsAZeroPointOnly) {
  struct tCase {
    const char* Text;
    const char* Result;
  } Cases[] = {
      {"2:463/1.0", "2:463/1"},
      {"2:463/1", "2:463/1"},
      {"2:463/1.5", "2:463/1.5"},
      {"2:463/1.00", "2:463/1"},
      {"2:463/1.0@xnet", "2:463/1"},
      {"2:463/1@xnet", "2:463/1@xnet"},
      {"2:463/1.x", "2:463/1"},     // a point that is no number reads as 0
      {"2:463/1.", "2:463/1"},
      {"463/1.0", "463/1"},
      {"2:463/1.65536", "2:463/1.65536"},  // not cut to 16 bits: 65536 is no zero point
      {"", ""},
  };
  for (const tCase& C : Cases) EXPECT_EQ(NormalizeAddress(C.Text).ToStdString(), C.Result) << C.Text;
}

TEST_F(ControlFile, MatchStrSplitsIntoParallelPatternAndTemplateLists) {
  Load("MatchStr ^-(.*)$ | \\0\n"
       "MatchStr \"^-(.*)$\" | \"\\0\"\n"
       "MatchStr ^AREA (.*)$\n"           // no template: never yields an area
       "MatchStr ||^\\+(.*)$|||&|ignored\n"
       "MatchStr \"a b\"|\" c \"\n"      // the line loses its outer quotes first
       "MatchStr ^-(.*)$ | \\0\n"         // duplicates are kept
       "MatchStr |\n"                     // "|" alone: an empty pair
       "MatchStr (ab | \\0\n"             // does not compile
       "MatchStr x** |\n");               // reported for the pattern first
  EXPECT_EQ(Members(Settings.MatchPatterns),
            (tStrings{"^-(.*)$", "^-(.*)$", "^AREA (.*)$", "^\\+(.*)$", "a b", "^-(.*)$", "", "(ab", "x**"}));
  EXPECT_EQ(Members(Settings.MatchTemplates), (tStrings{"\\0", "\\0", "", "&", " c", "\\0", "", "\\0", ""}));
  // The pairs that can never name an area are reported, each once.
  EXPECT_EQ(Reported(), (tStrings{"3: MatchStr [^AREA (.*)$]: no template", "7: MatchStr: no pattern",
                                  "8: MatchStr [(ab]: unmatched ()", "9: MatchStr [x**]: nested *?+"}));
}

TEST_F(ControlFile, SwitchesTakeTheFirstValueAndNoUnknownWordDeletes) {
  struct tCase {
    const char* Text;
    bool RemoveBase;
    tIfFEBusy IfFEBusy;
    const char* Report;  // the wrong line reported, if any
    bool MarkRequests = false;
  } Cases[] = {
      {"", true, febWait, nullptr},
      {"RemoveBase No\n", false, febWait, nullptr},
      {"RemoveBase nO\nRemoveBase yes\n", false, febWait, nullptr},  // later lines are ignored
      {"RemoveBase yes\nRemoveBase no\n", true, febWait, nullptr},
      {"RemoveBase YES\n", true, febWait, nullptr},
      {"RemoveBase\nRemoveBase no\n", false, febWait, nullptr},  // an empty line records nothing
      // Words that mean "no" to a person never delete a base.
      {"RemoveBase 0\n", false, febWait, "1: RemoveBase [0]: not yes or no, bases are kept"},
      {"RemoveBase off\n", false, febWait, "1: RemoveBase [off]: not yes or no, bases are kept"},
      {"; x\nRemoveBase nope\nRemoveBase yes\n", false, febWait, "2: RemoveBase [nope]: not yes or no, bases are kept"},
      {"IfFEBusy Poher\n", true, febPoher, nullptr},
      {"IfFEBusy QUIT\n", true, febQuit, nullptr},
      {"IfFEBusy wait\n", true, febWait, nullptr},
      {"IfFEBusy\n", true, febWait, nullptr},
      {"IfFEBusy later\nIfFEBusy quit\n", true, febWait, "1: IfFEBusy [later]: not wait, quit or poher, wait is used"},
      {"MarkRequests Yes\n", true, febWait, nullptr, true},
      {"MarkRequests no\nMarkRequests yes\n", true, febWait, nullptr, false},
      {"MarkRequests on\n", true, febWait, "1: MarkRequests [on]: not yes or no, requests are not marked", false},
  };
  for (const tCase& C : Cases) {
    SCOPED_TRACE(C.Text);
    tControlSettings S;
    S.RemoveBase = !C.RemoveBase;  // the file, not the old value, decides
    S.IfFEBusy = febQuit;
    S.MarkRequests = !C.MarkRequests;
    tRuntimeTempDir Dir;
    PutFile(Dir / "kelv.ctl", C.Text);
    tCollection<tWrongLine> Wrong;
    ASSERT_FALSE(LoadControlFile(Dir / "kelv.ctl", S, Wrong));
    EXPECT_EQ(S.RemoveBase, C.RemoveBase);
    EXPECT_EQ(S.IfFEBusy, C.IfFEBusy);
    EXPECT_EQ(S.MarkRequests, C.MarkRequests);
    EXPECT_EQ(Report(Wrong), C.Report ? tStrings{C.Report} : tStrings{});
  }
}

TEST_F(ControlFile, ConfigPathAndWrongLines) {
  Load("; kelvane control file\r\n"
       "FastEchoConfig \"C:\\FE\\SETUP.CFG\"\r\n"
       "FastEchoConfig D:\\OTHER.CFG\r\n"
       "FromName=John\r\n"
       "\r\n"
       "Frobnicate 1\r\n"
       "@Define FEDIR C:\\FE\r\n"
       "StopScanAfter FEDIR\\x\r\n"
       "RemoveBase maybe\r\n"
       "Frobnicate 2\r\n"
       "IfFEBusy");
  EXPECT_EQ(Settings.ConfigPath, "C:\\FE\\SETUP.CFG");
  // Lines no keyword takes, by the word that is none, and values that
  // cannot work, in line order.
  EXPECT_EQ(Reported(), (tStrings{"4: unknown keyword [FromName=John]", "6: unknown keyword [Frobnicate]",
                                  "9: RemoveBase [maybe]: not yes or no, bases are kept",
                                  "10: unknown keyword [Frobnicate]"}));
  EXPECT_EQ(Members(Settings.StopStrings), (tStrings{"C:\\FE\\X"}));
  EXPECT_EQ(Settings.IfFEBusy, febWait);
}

TEST_F(ControlFile, AConfigPathEndsAtItsFirstNul) {
  // The name printed must be the name used, and the temporary name of a
  // store must never come out equal to the real one.
  Load(std::string("FastEchoConfig setup.cfg\0.$$$ junk\n", 35));
  EXPECT_EQ(Settings.ConfigPath, "setup.cfg");
}

TEST_F(ControlFile, NoConfigPathAndUnreadableFiles) {
  Load("FromName Joe\n");
  EXPECT_TRUE(Settings.ConfigPath.Empty());

  tControlSettings S;
  tCollection<tWrongLine> Wrong;
  EXPECT_TRUE(LoadControlFile(Dir_ / "missing.ctl", S, Wrong));
  EXPECT_TRUE(LoadControlFile(Dir_.Path(), S, Wrong));
  EXPECT_EQ(S.FromNames.Count(), 0u);
}

}  // namespace
}  // namespace kelvane
