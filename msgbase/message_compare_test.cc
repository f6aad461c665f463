// A message compared with its copy read back: every part a format has no
// place for is found, each is one its row of limits names, and a message
// the format can hold whole comes back with nothing to report.
#include "msgbase/message_compare.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "msgbase/baseid.h"
#include "msgbase/msgbase.h"
#include "msgbase/test_fs.h"

namespace kelvane {
namespace {

using testing::Letter;
using testing::tRuntimeTempDir;

// Writes Msg into a fresh base of the format of Letter (F, S, J or P),
// reads it back and compares, by part name. Every part lost must be one
// the format's row of limits names.
std::map<std::string, std::string> Copied(char Letter, tMessage& Msg) {
  tRuntimeTempDir T;
  std::string Path = Letter == 'F' ? T.Path() : T / (Letter == 'S' ? "sq" : Letter == 'J' ? "jam" : "a.pkt");
  auto Base = OpenBase(testing::Letter(Letter, Path), 0);
  EXPECT_TRUE(Base);
  tMessage Back;
  std::map<std::string, std::string> Found;
  if (!Base || Base->WriteMessage(Base->Count + 1, &Msg) || Base->ReadMessage(Base->Count, &Back)) {
    ADD_FAILURE() << "no copy";
    return Found;
  }
  std::vector<tPartChange> Changes;
  CompareMessages(Msg, Back, Changes);
  tBaseKind Kind = BaseKindOf(Letter);
  for (const tPartChange& C : Changes) {
    EXPECT_TRUE(FormatLimit(Kind, C.Part)) << MessagePartName(C.Part) << " is lost (" << C.Detail << "), but the "
                                           << FormatName(Kind) << " row names it not";
    Found[MessagePartName(C.Part)] = C.Detail;
  }
  return Found;
}
std::map<std::string, std::string> CopiedIntoMsgDir(tMessage& Msg) { return Copied('F', Msg); }

// A message with more than any format holds.
void FillBeyond(tMessage& M, bool Echo, bool Nul) {
  testing::FillNetmail(M);
  M.From = tShortString(std::string(40, 'F'));
  M.Subject = tShortString(std::string(75, 's'));
  M.DateArrived = tDateTime{2026, 12, 8, 1, 2, 4};
  M.ReplyTo = 5;
  for (int I = 1; I <= 12; ++I) M.Replies[I] = 70000 + I;
  M.Cost = 9;
  M.UtcOfs = 180;
  M.Attr |= 0x00010000;
  if (Echo) M.Area = "ECHO.ONE";
  M.Text.Seek(M.Text.GetSize());
  if (Nul) M.Text.Write("cut\0after", 9);
}

TEST(CompareMessages, EveryLossIsOneItsFormatNames) {
  // Packets take no text with a NUL in it: such a message is not written.
  for (char L : {'F', 'S', 'J', 'P'})
    for (bool Echo : {false, true})
      for (bool Nul : {false, true}) {
        if (L == 'P' && Nul) continue;
        SCOPED_TRACE(std::string(1, L) + (Echo ? " echomail" : " netmail") + (Nul ? " with a NUL" : ""));
        tMessage M;
        FillBeyond(M, Echo, Nul);
        // Something is lost in every format (JAM keeps long names).
        std::map<std::string, std::string> Found = Copied(L, M);
        if (L == 'J')
          EXPECT_EQ(Found["UtcOfs"], "not kept (180)");
        else
          EXPECT_EQ(Found["From"], "cut to 35 of 40 characters");
      }
}

TEST(CompareMessages, WhatAMsgFolderCannotHoldIsFoundAndNamed) {
  tMessage M;
  testing::FillNetmail(M);
  EXPECT_TRUE(CopiedIntoMsgDir(M).empty());  // within every limit

  testing::FillNetmail(M);
  M.From = tShortString(std::string(40, 'F'));
  M.Subject = tShortString(std::string(75, 's'));
  M.DateArrived = tDateTime{2026, 12, 8, 1, 2, 4};
  M.ReplyTo = 5;
  M.Replies[1] = 70000;
  M.Replies[2] = 3;
  M.Cost = 9;
  M.UtcOfs = 180;
  M.Attr |= 0x00010000;
  M.Text.Seek(M.Text.GetSize());
  M.Text.Write("cut\0after", 9);
  std::map<std::string, std::string> Found = CopiedIntoMsgDir(M);
  EXPECT_EQ(Found, (std::map<std::string, std::string>{
                       {"From", "cut to 35 of 40 characters"},
                       {"Subject", "cut to 71 of 75 characters"},
                       {"Arrived", "not kept (2026-12-08 01:02:04)"},
                       {"ReplyTo", "not kept (5)"},
                       {"Reply", "70000 3 came back as 4464"},
                       {"Cost", "not kept (9)"},
                       {"UtcOfs", "not kept (180)"},
                       {"Attr", "0x00010081 came back as 0x00000081"},
                       // The NUL ends the text: what follows the body goes too.
                       {"Text", "cut after 26 of 32 bytes"},
                       {"TearLine", "not kept (\" kelvane\")"},
                       {"Origin", "not kept (\"Test Station \")"},
                       {"SeenBy", "1 line not kept"},
                       {"Path", "2 lines not kept"},
                       {"Route", "1 line not kept"},
                   }));

  // Echomail: no area tag, no INTL, FMPT or TOPT; the sender's point comes
  // back from the MSGID, the recipient's does not.
  testing::FillNetmail(M);
  M.Area = "ECHO.ONE";
  Found = CopiedIntoMsgDir(M);
  EXPECT_EQ(Found, (std::map<std::string, std::string>{
                       {"Area", "not kept (\"ECHO.ONE\")"},
                       {"Intl", "not kept (\"2:5020/1 2:5020/2\")"},
                       {"ToAddr", "2:5020/1.3 came back as 2:5020/1"},
                   }));
}

// Lines and texts that differ: counted, and told apart from a cut.
TEST(CompareMessages, LinesAndTexts) {
  tMessage A, B;
  A.Kludges.Append("\x01" "X: 1");
  A.Kludges.Append("\x01" "Y: 2");
  B.Kludges.Append("\x01" "X: 1");
  A.SeenByLines.Append("5020/1");
  B.SeenByLines.Append("5020/2");
  A.PathLines.Append("5020/1");
  A.Text.WriteStr("abc");
  B.Text.WriteStr("abd!");
  std::vector<tPartChange> Changes;
  CompareMessages(A, B, Changes);
  std::vector<std::string> Got;
  for (const tPartChange& C : Changes) Got.push_back(std::string(MessagePartName(C.Part)) + ": " + C.Detail);
  EXPECT_EQ(Got, (std::vector<std::string>{"Kludge: 2 lines came back as 1", "SeenBy: 1 line came back different",
                                           "Path: 1 line not kept", "Text: 3 bytes came back as 4 bytes, not the same"}));

  // A FLAGS line JAM keeps among the kludges is the FLAGS another format
  // keeps in its fields: nothing lost either way, unless the words differ.
  struct {
    const char* Kludge;  // Sent's FLAGS line
    const char* Flags;   // Back's flags field
    const char* Lost;
  } Flags[] = {{"\x01" "FLAGS DIR XPVT", "DIR XPVT", ""}, {"\x01" "FLAGS DIR XPVT", "DIR", "Flags"}};
  for (const auto& F : Flags)
    for (bool Backwards : {false, true}) {
      tMessage S, R;
      S.Kludges.Append(F.Kludge);
      R.Flags = F.Flags;
      Changes.clear();
      CompareMessages(Backwards ? R : S, Backwards ? S : R, Changes);
      std::string Parts;
      for (const tPartChange& C : Changes) Parts += MessagePartName(C.Part);
      EXPECT_EQ(Parts, F.Lost) << F.Flags << Backwards;
    }
}

}  // namespace
}  // namespace kelvane
