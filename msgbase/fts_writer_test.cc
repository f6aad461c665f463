// The FTS text writers every format shares: the kludge lines in both
// styles, the body and its tail by parts, and what is written for values a
// read completed. (The *.MSG layout as a whole is in msgdir_test.cc.)
#include "msgbase/fts_writer.h"

#include <gtest/gtest.h>

#include <string>

#include "msgbase/address.h"
#include "msgbase/test_fs.h"

namespace kelvane {
namespace {

using namespace std::string_literals;

// The netmail of the tests, its FLAGS text made, with words of the FLAGS
// text read that no flag knows.
void FillHead(tMessage& M) {
  testing::FillNetmail(M);
  M.SyncFlags(false);
  M.FlagsRest = "XPVT ZZZ";
}

std::string Kludges(const tMessage& M, tKludgeStyle Style) {
  tMemoryStream S;
  WriteKludgeLines(S, M, Style);
  return std::string(S.View());
}

std::string Tail(const tMessage& M, unsigned Parts) {
  tMemoryStream S;
  WriteBodyAndTail(S, M, Parts);
  return std::string(S.View());
}

TEST(FtsWriterTest, KludgeLinesInBothStyles) {
  tMessage M;
  FillHead(M);
  EXPECT_EQ(Kludges(M, ksTextLines),
            "\1FMPT 7\r\1TOPT 3\r\1INTL 2:5020/1 2:5020/2\r\1MSGID: 2:5020/2.7 12345678\r"
            "\1REPLY: 2:5020/1.3 87654321\r\1FLAGS DIR IMM XPVT ZZZ\r\1PID: kelvane 1\r\1TID: tosser 2\r"
            "\1CHRS: CP866 2\r\1TZUTC: 0300\r");
  EXPECT_EQ(Kludges(M, ksControlInfo),
            "\1FMPT 7\1TOPT 3\1INTL 2:5020/1 2:5020/2\1MSGID: 2:5020/2.7 12345678\1REPLY: 2:5020/1.3 87654321"
            "\1FLAGS DIR IMM XPVT ZZZ\1PID: kelvane 1\1TID: tosser 2\1CHRS: CP866 2\1TZUTC: 0300\0"s);
  // Echomail carries no address lines.
  M.Area = "ECHO.ONE";
  EXPECT_EQ(Kludges(M, ksTextLines).substr(0, 9), "\1MSGID: 2");
  tMessage Empty;
  EXPECT_EQ(Kludges(Empty, ksTextLines), "");
  EXPECT_EQ(Kludges(Empty, ksControlInfo), "\0"s);
}

TEST(FtsWriterTest, CompletedValuesGetNoLine) {
  tMessage M;
  FillHead(M);
  M.Completed = cvMsgId | cvIntl | cvOrigPoint;
  EXPECT_EQ(Kludges(M, ksTextLines),
            "\1TOPT 3\r\1REPLY: 2:5020/1.3 87654321\r\1FLAGS DIR IMM XPVT ZZZ\r\1PID: kelvane 1\r"
            "\1TID: tosser 2\r\1CHRS: CP866 2\r\1TZUTC: 0300\r");
  EXPECT_TRUE(MsgIdToWrite(M).Empty());
  EXPECT_TRUE(IntlToWrite(M).Empty());
  EXPECT_EQ(OrigPointToWrite(M), 0);
  // Unset points are no points.
  M.Completed = 0;
  M.OrigPoint = M.DestPoint = UnsetWord;
  EXPECT_EQ(OrigPointToWrite(M), 0);
  EXPECT_EQ(DestPointToWrite(M), 0);
}

TEST(FtsWriterTest, BodyAndTailByParts) {
  tMessage M;
  M.OrigZone = 2, M.OrigNet = 5020, M.OrigNode = 2, M.OrigPoint = 0;
  M.Text.WriteStr("Body");  // no break: the first tail line must not join it
  M.TearLine = " t";
  M.AddTearLine = 1;
  M.Origin = "Stn ";
  M.AddOrigin = 1;
  M.SeenByLines.Append("5020/1");
  M.PathLines.Append("5020/2");
  M.RouteLines.Append("\1Via x");
  EXPECT_EQ(Tail(M, tpAll), "Body\r--- t\r * Origin: Stn (2:5020/2)\rSEEN-BY: 5020/1\r\1PATH: 5020/2\r\1Via x\r");
  EXPECT_EQ(Tail(M, tpTearAndOrigin), "Body\r--- t\r * Origin: Stn (2:5020/2)\r");
  EXPECT_EQ(Tail(M, tpSeenByAndPath | tpRouteLines), "Body\rSEEN-BY: 5020/1\r\1PATH: 5020/2\r\1Via x\r");
  EXPECT_EQ(Tail(M, 0), "Body");
}

TEST(FtsWriterTest, TheOriginLineAsItWasRead) {
  struct tCase {
    const char* Name;
    const char* OriginAddr;
    uint8_t Completed;
    const char* Line;
  };
  const tCase Cases[] = {
      {"built: the sender's address", "", 0, "Stn (2:5020/2.7)"},
      {"read: kept while it names the sender's node", "(2:5020/2.0)", 0, "Stn (2:5020/2.0)"},
      {"read, with a word and a domain", "(Club 2:5020/2@fidonet)", 0, "Stn (Club 2:5020/2@fidonet)"},
      {"read, naming no address", "(Moscow)", 0, "Stn (Moscow)"},
      {"read, naming another node than the header", "(2:5020/9)", 0, "Stn (2:5020/9)"},
      {"read without an address: none added", "", cvOriginAddr, "Stn "},
  };
  for (const tCase& C : Cases) {
    tMessage M;
    M.OrigZone = 2, M.OrigNet = 5020, M.OrigNode = 2, M.OrigPoint = 7;
    M.Origin = "Stn ";
    M.AddOrigin = 1;
    M.OriginAddr = C.OriginAddr;
    M.Completed = C.Completed;
    EXPECT_TRUE(WritesOriginLine(M)) << C.Name;
    EXPECT_EQ(OriginLineText(M), C.Line) << C.Name;
  }
  // A netmail with nothing to say gets no origin line; one read with an
  // empty origin line gets it back.
  tMessage M;
  M.AddOrigin = 1;
  EXPECT_FALSE(WritesOriginLine(M));
  M.Completed = cvOriginAddr;
  EXPECT_TRUE(WritesOriginLine(M));
  EXPECT_EQ(OriginLineText(M), "");
}

}  // namespace
}  // namespace kelvane
