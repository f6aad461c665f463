// ReadText and the behaviour the abstract base supplies to every format.
// Texts are written with "\r" and "\n" spelled out and SOH as "\1", so a
// test shows the exact bytes a stored message holds.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "msgbase/message.h"
#include "msgbase/control_line.h"
#include "msgbase/msgbase.h"
#include "msgbase/text_body.h"
#include "msgbase/test_fs.h"
#include "runtime/stream.h"
#include "runtime/test_dir.h"

namespace kelvane {
namespace {

using testing::tFailingStream;

// A base over an in-memory DataStream: ReadText needs nothing else.
class tTextBase : public tMsgBase {
 public:
  explicit tTextBase(std::string_view Stored) {
    auto S = std::make_unique<tMemoryStream>();
    S->Write(Stored.data(), static_cast<uint32_t>(Stored.size()));
    DataStream = std::move(S);
  }
};

std::string TextOf(tMessage& Msg) { return std::string(Msg.Text.View()); }

std::vector<std::string> Items(const tStringList& L) {
  std::vector<std::string> R;
  for (const tShortString& S : L) R.push_back(S.ToStdString());
  return R;
}

// Parses the whole of Stored into Msg (cleared first).
void Parse(std::string_view Stored, tMessage& Msg) {
  tTextBase Base(Stored);
  Msg.Clear();
  ASSERT_FALSE(Base.ReadText(&Msg, 0, static_cast<int32_t>(Stored.size())));
}

TEST(ReadTextTest, RefusesWithoutChangeOutsideItsPreconditions) {
  struct tCase {
    const char* Name;
    bool WithStream, WithMsg;
    int32_t From, To;
  };
  const tCase Cases[] = {
      {"no stream", false, true, 0, 5},    {"no message", true, false, 0, 5}, {"empty range", true, true, 3, 3},
      {"reversed range", true, true, 4, 2}, {"past the end", true, true, 0, 11}, {"negative from", true, true, -1, 5},
  };
  for (const tCase& C : Cases) {
    tTextBase Base("\1PID: x\rab");  // 10 bytes
    if (!C.WithStream) Base.DataStream.reset();
    tMessage Msg;
    Msg.Text.WriteStr("kept");
    EXPECT_TRUE(Base.ReadText(C.WithMsg ? &Msg : nullptr, C.From, C.To)) << C.Name;
    EXPECT_EQ(TextOf(Msg), "kept") << C.Name;
    EXPECT_TRUE(Msg.Pid.Empty()) << C.Name;
  }
  // The last byte of the stream is within reach.
  tTextBase Base("\1PID: x\rab");
  tMessage Msg;
  EXPECT_FALSE(Base.ReadText(&Msg, 0, 10));
  EXPECT_EQ(TextOf(Msg), "ab");
}

TEST(ReadTextTest, TearAndOriginLeaveTheBody) {
  tMessage Msg;
  Parse("Body line\r--- Word\r * Origin: Station (2:5020/123)\r", Msg);
  EXPECT_EQ(TextOf(Msg), "Body line\r");
  EXPECT_EQ(Msg.TearLine, " Word");
  EXPECT_EQ(Msg.Origin, "Station (2:5020/123)");
  EXPECT_EQ(Msg.AddTearLine, 1);
  EXPECT_EQ(Msg.AddOrigin, 1);

  Parse("Body\r---\r", Msg);
  EXPECT_EQ(TextOf(Msg), "Body\r");
  EXPECT_EQ(Msg.TearLine, " ");
  EXPECT_EQ(Msg.AddOrigin, 0);

  // Two tear lines: the last one is the tear line, the other is body.
  Parse("Body\r--- a\r--- b\r", Msg);
  EXPECT_EQ(Msg.TearLine, " b");
  EXPECT_EQ(TextOf(Msg), "Body\r--- a\r");
}

TEST(ReadTextTest, LeadingKludgesFillTheirFields) {
  tMessage Msg;
  Parse(
      "\1INTL 2:5020/1 2:5020/2\r\1TOPT 3\r\1FMPT 4\r\1MSGID: 2:5020/2.4 12345678\r\1REPLY: 2:5020/1.3 87654321\r"
      "\1FLAGS DIR\r\1PID: Prog 1\r\1TID: Tool 2\r\1CHRS: CP866 2\r\1Via 2:5020/9 @20261207\r"
      "\1Recd 1\r\1Forwarded 2\r\1PATH: 5020/2\rSEEN-BY: 5020/1\rBody\r",
      Msg);
  EXPECT_EQ(TextOf(Msg), "Body\r");
  EXPECT_EQ(Msg.Intl, "2:5020/1 2:5020/2");
  EXPECT_EQ(Msg.DestPoint, 3);
  EXPECT_EQ(Msg.OrigPoint, 4);
  EXPECT_EQ(Msg.MsgId, "2:5020/2.4 12345678");
  EXPECT_EQ(Msg.ReplyId, "2:5020/1.3 87654321");
  EXPECT_EQ(Msg.Flags, "DIR");
  EXPECT_EQ(Msg.Pid, "Prog 1");
  EXPECT_EQ(Msg.Tid, "Tool 2");
  EXPECT_EQ(Items(Msg.Kludges), std::vector<std::string>({"\1CHRS: CP866 2"}));
  EXPECT_EQ(Items(Msg.RouteLines),
            std::vector<std::string>({"\1Via 2:5020/9 @20261207", "\1Recd 1", "\1Forwarded 2"}));
  EXPECT_EQ(Items(Msg.PathLines), std::vector<std::string>({"5020/2"}));
  EXPECT_EQ(Items(Msg.SeenByLines), std::vector<std::string>({"5020/1"}));
}

TEST(ReadTextTest, KludgeNamesMatchWithoutRegardToCase) {
  tMessage Msg;
  Parse("\1msgid: 1:2/3 abc\r\1fmpt 7\r\1via x\rBody\r", Msg);
  EXPECT_EQ(Msg.MsgId, "1:2/3 abc");
  EXPECT_EQ(Msg.OrigPoint, 7);
  // A routing line is listed with its prefix in the usual case.
  EXPECT_EQ(Items(Msg.RouteLines), std::vector<std::string>({"\1Via x"}));
  EXPECT_EQ(TextOf(Msg), "Body\r");
}

TEST(ReadTextTest, PointNumbersReadAsAddressWordsDo) {
  struct tCase {
    const char* Line;
    uint16_t Point;
  };
  const tCase Cases[] = {{"\1FMPT 12\r", 12}, {"\1FMPT  12\r", 12}, {"\1FMPT 12 \r", 12},
                         {"\1FMPT x\r", 0},   {"\1FMPT 65537\r", 1}, {"\1FMPT \r", 0}};
  for (const tCase& C : Cases) {
    tMessage Msg;
    Parse(std::string(C.Line) + "Body\r", Msg);
    EXPECT_EQ(Msg.OrigPoint, C.Point) << C.Line;
  }
}

TEST(ReadTextTest, TheLastOfRepeatedFieldKludgesWins) {
  tMessage Msg;
  Parse("\1MSGID: one\r\1MSGID: two\r\1PID: a\r\1PID: b\rBody\r", Msg);
  EXPECT_EQ(Msg.MsgId, "two");
  EXPECT_EQ(Msg.Pid, "b");
  EXPECT_EQ(TextOf(Msg), "Body\r");
}

TEST(ReadTextTest, RepeatedKludgeLinesAreKeptOnce) {
  tMessage Msg;
  // A second identical unknown kludge is neither listed nor consumed, so
  // the forward scan stops there and it stays in the body.
  Parse("\1CHRS: X\r\1CHRS: X\r\1TZUTC: 0300\rBody\r", Msg);
  EXPECT_EQ(Items(Msg.Kludges), std::vector<std::string>({"\1CHRS: X"}));
  EXPECT_EQ(TextOf(Msg), "\1CHRS: X\r\1TZUTC: 0300\rBody\r");

  // A second identical Via line falls to the kludge list.
  Parse("\1Via a\r\1Via a\rBody\r", Msg);
  EXPECT_EQ(Items(Msg.RouteLines), std::vector<std::string>({"\1Via a"}));
  EXPECT_EQ(Items(Msg.Kludges), std::vector<std::string>({"\1Via a"}));
  EXPECT_EQ(TextOf(Msg), "Body\r");
}

TEST(ReadTextTest, TheForwardScanStopsAtTheFirstBodyLine) {
  tMessage Msg;
  // Empty lines it passes stay; a kludge after body text is body.
  Parse("\1PID: a\r\r\1TID: b\rHello\r\1MSGID: late\rWorld\r", Msg);
  EXPECT_EQ(Msg.Pid, "a");
  EXPECT_EQ(Msg.Tid, "b");
  EXPECT_TRUE(Msg.MsgId.Empty());
  EXPECT_EQ(TextOf(Msg), "\rHello\r\1MSGID: late\rWorld\r");
}

TEST(ReadTextTest, TrailingControlLinesKeepTheirTextOrder) {
  tMessage Msg;
  Parse("SEEN-BY: 1/0\rBody\r--- t\r * Origin: o (1:1/1)\rSEEN-BY: 1/1 1/2\rSEEN-BY: 1/3\r\1PATH: 1/4\r"
        "\1PATH: 1/5\r\1Via x\r\1Recd y\r",
        Msg);
  EXPECT_EQ(TextOf(Msg), "Body\r");
  // Entries of the tail stand before the one found at the head.
  EXPECT_EQ(Items(Msg.SeenByLines), std::vector<std::string>({"1/1 1/2", "1/3", "1/0"}));
  EXPECT_EQ(Items(Msg.PathLines), std::vector<std::string>({"1/4", "1/5"}));
  EXPECT_EQ(Items(Msg.RouteLines), std::vector<std::string>({"\1Via x", "\1Recd y"}));
  // A trailing kludge of another kind ends the backward scan.
  Parse("Body\r--- t\r\1CHRS: X\r", Msg);
  EXPECT_TRUE(Msg.TearLine.Empty());
  EXPECT_EQ(TextOf(Msg), "Body\r--- t\r\1CHRS: X\r");
}

TEST(ReadTextTest, BlankLinesAtTheTail) {
  struct tCase {
    const char* Name;
    const char* Stored;
    const char* Body;
  };
  const tCase Cases[] = {
      {"between body and tear line: kept", "Body\r\r\r--- t\r * Origin: o\r", "Body\r\r\r"},
      {"after the origin line: removed", "Body\r--- t\r * Origin: o\r\r\r", "Body\r"},
      {"after a body with no tear line: removed", "Body\r\r\r", "Body\r"},
      {"one between two blocks: removed", "Body\r * Origin: o\r\r--- t\r", "Body\r"},
      {"two between two blocks: removed", "Body\r * Origin: o\r\r\r--- t\r", "Body\r"},
      {"CR LF, one between two blocks", "Body\r\n * Origin: o\r\n\r\n--- t\r\n", "Body\r"},
      {"CR LF, blank lines before the tear line", "Body\r\n\r\n--- t\r\n", "Body\r\n\r"},
      {"CR LF: the LF of the last body line goes", "Body\r\nMore\r\n--- t\r\n * Origin: o\r\n", "Body\r\nMore\r"},
      {"LF only", "Body\nMore\n--- t\n * Origin: o\n", "Body\nMore\n"},
      {"LF CR pairs", "Body\n\r--- t\n\r", "Body\n"},
      {"no break after the last line", "Body\r--- t", "Body\r"},
      {"body without a final break", "Body", "Body"},
      {"kludges only, then blank lines: removed", "\1MSGID: 1:1/1 1\r\r\r", ""},
      {"kludges only, CR LF blank lines: removed", "\1MSGID: 1:1/1 1\r\n\r\n\r\n", ""},
  };
  for (const tCase& C : Cases) {
    tMessage Msg;
    Parse(C.Stored, Msg);
    EXPECT_EQ(TextOf(Msg), C.Body) << C.Name;
  }
}

TEST(ReadTextTest, TheTextEndsAtItsFirstNul) {
  using namespace std::string_literals;
  struct tCase {
    const char* Name;
    std::string Stored;
    const char* Body;
    const char* Tear;
  };
  const tCase Cases[] = {
      {"padding after the last line", "Body\r--- t\r\0\0\0\0"s, "Body\r", " t"},
      {"padding after a last line with no break", "Body\r--- t\0\0"s, "Body\r", " t"},
      {"stale lines an editor left behind", "Body\r\0-OLD.AREA\r--- old\r"s, "Body\r", ""},
      {"a NUL inside a line", "Bo\0dy\r"s, "Bo", ""},
      {"nothing but padding", "\0\0\0"s, "", ""},
  };
  for (const tCase& C : Cases) {
    tMessage Msg;
    Parse(C.Stored, Msg);
    EXPECT_EQ(TextOf(Msg), C.Body) << C.Name;
    EXPECT_EQ(Msg.TearLine, C.Tear) << C.Name;
  }
  // The head alone stops there too, in place.
  std::string Stored = "\1PID: p\0\1TID: t\r"s;
  for (uint8_t HeaderOnly : {0, 1}) {
    tTextBase Base(Stored);
    Base.HeaderOnly = HeaderOnly;
    tMessage Msg;
    ASSERT_FALSE(Base.ReadText(&Msg, 0, static_cast<int32_t>(Stored.size())));
    EXPECT_EQ(Msg.Pid, "p") << int(HeaderOnly);
    EXPECT_TRUE(Msg.Tid.Empty()) << int(HeaderOnly);
  }
}

TEST(ReadTextTest, ATextOfControlLinesOnlyListsEachLineOnce) {
  // An echomail message with an empty body: the forward scan takes every
  // line, and the backward scan must not take them a second time.
  tMessage Msg;
  Parse("\1MSGID: 1:1/1 1\r--- t\r * Origin: o (1:1/1)\rSEEN-BY: 1/1 1/2\r\1PATH: 1/1\r", Msg);
  EXPECT_EQ(TextOf(Msg), "");
  EXPECT_EQ(Items(Msg.SeenByLines), std::vector<std::string>({"1/1 1/2"}));
  EXPECT_EQ(Items(Msg.PathLines), std::vector<std::string>({"1/1"}));
  EXPECT_EQ(Msg.TearLine, " t");
  EXPECT_EQ(Msg.Origin, "o (1:1/1)");
}

TEST(ReadTextTest, OverlongLinesAreCutForStoringAndRemovedWhole) {
  std::string Long(300, 'k');
  tMessage Msg;
  Parse("\1X-" + Long + "\r" + Long + "\rSEEN-BY: " + Long + "\r", Msg);
  ASSERT_EQ(Msg.Kludges.Count(), 1u);
  EXPECT_EQ(Msg.Kludges[0].Length(), 255u);
  EXPECT_EQ(Msg.Kludges[0].View().substr(0, 3), "\1X-");
  ASSERT_EQ(Msg.SeenByLines.Count(), 1u);
  EXPECT_EQ(Msg.SeenByLines[0], std::string(255 - 9, 'k'));
  // The body line keeps all its 300 characters.
  EXPECT_EQ(TextOf(Msg), Long + "\r");
}

TEST(ReadTextTest, ReadsTheRangeItIsGiven) {
  // The text of a message inside a larger file (a header before it, the
  // next message after it).
  std::string Stored = std::string(190, 'H') + "\1PID: p\rBody\r--- t\r" + "NEXT MESSAGE";
  int32_t From = 190, To = static_cast<int32_t>(Stored.size() - 12);
  tTextBase Base(Stored);
  tMessage Msg;
  ASSERT_FALSE(Base.ReadText(&Msg, From, To));
  EXPECT_EQ(Msg.Pid, "p");
  EXPECT_EQ(Msg.TearLine, " t");
  EXPECT_EQ(TextOf(Msg), "Body\r");
}

TEST(ReadTextTest, ALongerEarlierTextLeavesNothingBehind) {
  tMessage Msg;
  Parse("A much longer first message body\r", Msg);
  tTextBase Base("Short\r");
  ASSERT_FALSE(Base.ReadText(&Msg, 0, 6));
  EXPECT_EQ(TextOf(Msg), "Short\r");
}

TEST(ReadTextTest, HeaderOnlyParsesTheHeadInPlace) {
  std::string Stored = "\1MSGID: m\r\r\1PID: p\rBody\r--- t\r * Origin: o\r";
  tTextBase Base(Stored);
  Base.HeaderOnly = 1;
  tMessage Msg;
  ASSERT_FALSE(Base.ReadText(&Msg, 0, static_cast<int32_t>(Stored.size())));
  EXPECT_EQ(Msg.MsgId, "m");
  EXPECT_EQ(Msg.Pid, "p");
  EXPECT_TRUE(Msg.TearLine.Empty());
  EXPECT_TRUE(Msg.Origin.Empty());
  EXPECT_EQ(Msg.Text.GetSize(), 0);

  // The scan ends at To: the bytes after it belong to someone else.
  std::string Two = "\1MSGID: m\r\1PID: next\r";
  tTextBase Base2(Two);
  Base2.HeaderOnly = 1;
  tMessage Msg2;
  ASSERT_FALSE(Base2.ReadText(&Msg2, 0, 10));
  EXPECT_EQ(Msg2.MsgId, "m");
  EXPECT_TRUE(Msg2.Pid.Empty());
  // A line cut by To is read up to To only.
  tMessage Msg3;
  ASSERT_FALSE(Base2.ReadText(&Msg3, 0, 7));
  EXPECT_TRUE(Msg3.MsgId.Empty());
  EXPECT_EQ(Items(Msg3.Kludges), std::vector<std::string>({"\1MSGID:"}));
}


TEST(ReadTextTest, AStreamErrorEndsTheScanCleanly) {
  std::string Stored = "\1PID: p\r\1TID: t\rBody\r";
  for (int64_t FailAt : {0, 3, 8, 12, 20, 21}) {
    tTextBase Base("");
    auto S = std::make_unique<tFailingStream>(FailAt);
    S->WriteStr(Stored);
    Base.DataStream = std::move(S);
    tMessage Msg;
    EXPECT_FALSE(Base.ReadText(&Msg, 0, static_cast<int32_t>(Stored.size()))) << FailAt;
    EXPECT_EQ(Base.DataStream->Status, stOk) << FailAt;
    EXPECT_LE(Msg.Text.GetSize(), static_cast<int64_t>(Stored.size())) << FailAt;
    Base.HeaderOnly = 1;
    tMessage Head;
    EXPECT_FALSE(Base.ReadText(&Head, 0, static_cast<int32_t>(Stored.size()))) << FailAt;
    EXPECT_EQ(Base.DataStream->Status, stOk) << FailAt;
    // The head read sees what the whole read saw of the head.
    EXPECT_EQ(Head.Pid, Msg.Pid) << FailAt;
    EXPECT_EQ(Head.Pid == "p", FailAt >= 21) << FailAt;
  }
}

TEST(ReadTextTest, ManyControlLinesStayBoundedAndLinear) {
  // Tens of thousands of trailing SEEN-BY lines: the list stops growing at
  // its cap and the rest stays in the body, unchanged.
  std::string Stored = "Body\r";
  for (int I = 0; I < 20000; ++I) Stored += "SEEN-BY: " + std::to_string(I) + "\r";
  tMessage Msg;
  Parse(Stored, Msg);
  EXPECT_EQ(Msg.SeenByLines.Count(), 8192u);
  EXPECT_EQ(Msg.SeenByLines[Msg.SeenByLines.Count() - 1], "19999");
  std::string Body = TextOf(Msg);
  EXPECT_EQ(Body.substr(0, 5), "Body\r");
  EXPECT_EQ(Body.find("SEEN-BY: 11808\r"), std::string::npos);
  EXPECT_NE(Body.find("SEEN-BY: 11807\r"), std::string::npos);
}

// The behaviour the abstract base gives every format.

// A body left in the file (StreamBody) is the body a full read copies,
// piece by piece and line by line, with the same fields from both ends of
// the text, however small the block the text is reached through: the
// window then moves along the text and back over its tail.
TEST(ReadTextTest, ABodyLeftInTheFileIsTheBodyOfAFullRead) {
  const std::string Long(70000, 'x');  // a line longer than the largest block
  const std::string Texts[] = {
      "\1MSGID: 1:2/3 4\r\r\1PID: p\r\nbody\r\n\r--- t\r * Origin: o (1:2/3)\rSEEN-BY: 2/3\r\1PATH: 2/3\r",
      "\r\n\1FLAGS DIR\r\r\n\1PID: p\n\rfirst\r" + Long + "\rlast\r\r\n--- \r",
      "\1PID: a\r\1PID: b\r\r\r",  // control lines only
      "one\rtwo" + std::string(1, '\0') + "after the NUL\r",
      std::string(300, '\r') + "body\n\r" + std::string(600, '\n') + " * Origin: o\r" + std::string(5, '\r'),
  };
  for (size_t Block : {size_t(65536), size_t(256), size_t(301)}) {
    tTextWindow::BlockSize = Block;
    for (const std::string& Stored : Texts) {
      SCOPED_TRACE(Stored.substr(0, 40) + " / block " + std::to_string(Block));
      tMessage Full, Streamed;
      Parse(Stored, Full);
      tTextBase Base(Stored);
      Base.StreamBody = 1;
      ASSERT_FALSE(Base.ReadText(&Streamed, 0, static_cast<int32_t>(Stored.size())));
      ASSERT_TRUE(Base.Body);
      EXPECT_EQ(Streamed.Text.GetSize(), 0);
      EXPECT_EQ(Streamed.MsgId, Full.MsgId);
      EXPECT_EQ(Streamed.Origin, Full.Origin);
      EXPECT_EQ(Items(Streamed.Kludges), Items(Full.Kludges));
      EXPECT_EQ(Items(Streamed.SeenByLines), Items(Full.SeenByLines));
      std::string Body;
      for (std::string_view Piece = Base.Body->Next(); !Piece.empty(); Piece = Base.Body->Next()) Body += Piece;
      EXPECT_EQ(Body, TextOf(Full));
      // Line by line, as a request is read: 255 characters of each kept.
      Streamed.Clear();
      ASSERT_FALSE(Base.ReadText(&Streamed, 0, static_cast<int32_t>(Stored.size())));
      std::vector<std::string> Lines, Expected;
      for (tShortString Line; Base.Body->ReadLine(Line);) Lines.push_back(Line.ToStdString());
      tMemoryStream Copy;
      Copy.WriteStr(Body);
      Copy.Seek(0);
      for (tShortString Line; Copy.GetPos() < Copy.GetSize() && ReadStreamLine(Copy, Copy.GetSize(), Line);)
        Expected.push_back(Line.ToStdString());
      EXPECT_EQ(Lines, Expected);
    }
  }
  tTextWindow::BlockSize = 65536;
}

TEST(MsgBaseTest, AFreshBaseIsClosedAndEmpty) {
  tMsgBase Base;
  EXPECT_EQ(Base.Closed, cbClosed);
  EXPECT_EQ(Base.Count, 0);
  EXPECT_EQ(Base.OpenMode, -1);
  EXPECT_TRUE(Base.Path.Empty());
  EXPECT_FALSE(Base.DataStream);
  EXPECT_FALSE(Base.AuxStream);
  tMessage Msg;
  for (int32_t N : {0, 1, 5}) {
    EXPECT_FALSE(Base.Exists(N));
    EXPECT_TRUE(Base.ReadMessage(N, &Msg));
    EXPECT_TRUE(Base.ReadThread(N, &Msg));
    EXPECT_TRUE(Base.WriteMessage(N, &Msg));
    EXPECT_TRUE(Base.DeleteMessage(N));
  }
}

TEST(MsgBaseTest, ExistsIsTheRangeOfAnOpenBase) {
  tMsgBase Base;
  Base.Closed = cbOpen;
  Base.Count = 3;
  EXPECT_FALSE(Base.Exists(0));
  EXPECT_TRUE(Base.Exists(1));
  EXPECT_TRUE(Base.Exists(3));
  EXPECT_FALSE(Base.Exists(4));
  EXPECT_FALSE(Base.Exists(-1));
  Base.Closed = cbFailed;
  EXPECT_FALSE(Base.Exists(1));
}

TEST(MsgBaseTest, OperationsClearAStreamErrorFirst) {
  tTextBase Base("x");
  Base.DataStream->Error(stReadError, 5);
  EXPECT_TRUE(Base.ReadMessage(1, nullptr));
  EXPECT_EQ(Base.DataStream->Status, stOk);
  Base.DataStream->Error(stReadError, 5);
  Base.DeleteMessage(1);
  EXPECT_EQ(Base.DataStream->Status, stOk);
}

// A base whose ReadMessage records what HeaderOnly was while it ran.
class tHeaderProbe : public tMsgBase {
 public:
  bool ReadMessage(int32_t N, tMessage*) override {
    Seen = HeaderOnly;
    return N != 1;
  }
  uint8_t Seen = 9;
};

TEST(MsgBaseTest, ReadHeaderSetsHeaderOnlyOnlyWhileItRuns) {
  tHeaderProbe Base;
  EXPECT_FALSE(Base.ReadHeader(1, nullptr));
  EXPECT_EQ(Base.Seen, 1);
  EXPECT_EQ(Base.HeaderOnly, 0);
  EXPECT_TRUE(Base.ReadHeader(2, nullptr));
  EXPECT_EQ(Base.HeaderOnly, 0);
}

TEST(MsgBaseTest, ReplyLinkGettersAnswerFromTheCache) {
  tMsgBase Base;
  EXPECT_EQ(Base.GetReplyTo(5), -1);
  EXPECT_EQ(Base.GetReplyTo(5), 0);
  EXPECT_EQ(Base.GetReply1st(5), 0);
  EXPECT_EQ(Base.GetReplyNext(6), -1);
  EXPECT_EQ(Base.GetReplyTo(6), 0);
  Base.LinkCache = tLinkCache{7, 1, 2, 3};
  EXPECT_EQ(Base.GetReplyTo(7), 1);
  EXPECT_EQ(Base.GetReply1st(7), 2);
  EXPECT_EQ(Base.GetReplyNext(7), 3);
  EXPECT_EQ(Base.GetReply1st(8), -1);
}

TEST(MsgBaseTest, PrepareBaseCreatesTheDirectoryChain) {
  testing::tRuntimeTempDir Dir;
  std::string Deep = Dir / "a";
  Deep += PathSeparator;
  Deep += "b";
  Deep += PathSeparator;
  Deep += "c";
  std::string BasePath = Deep + PathSeparator + "*.msg";
  tMsgBase Base;
  Base.Count = 4;
  Base.PrepareBase(BasePath, 0x3D40);
  EXPECT_TRUE(std::filesystem::is_directory(Deep));
  EXPECT_EQ(Base.Path, BasePath);
  EXPECT_EQ(Base.OpenMode, 0x3D40);
  EXPECT_EQ(Base.Count, 0);
  EXPECT_EQ(Base.Closed, cbClosed);
  EXPECT_EQ(Base.StreamMode(smCreate), 0x3D40);
  EXPECT_EQ(Base.StreamMode(smOpenReadWrite), 0x3D42);

  // A directory that cannot be made (a file stands in its way): nothing is
  // stored.
  testing::PutFile(Dir / "file", "x");
  tMsgBase Blocked;
  Blocked.PrepareBase(Dir / "file" + PathSeparator + "sub" + PathSeparator + "*.msg", 0);
  EXPECT_TRUE(Blocked.Path.Empty());
  EXPECT_EQ(Blocked.OpenMode, -1);

  // Nor for a path that does not fit 255 characters.
  tMsgBase Long;
  std::string LongDir = Dir / std::string(250, 'l');
  Long.PrepareBase(LongDir + PathSeparator + "*.msg", 0);
  EXPECT_TRUE(Long.Path.Empty());
  EXPECT_FALSE(std::filesystem::exists(LongDir));
}

TEST(MsgBaseTest, DosDatesPackAndUnpack) {
  tDateTime T{2026, 12, 7, 19, 5, 8};
  uint32_t P = PackDateTime(T);
  EXPECT_EQ(P >> 16, static_cast<uint32_t>((46 << 9) | (12 << 5) | 7));
  EXPECT_EQ(P & 0xFFFF, static_cast<uint32_t>((19 << 11) | (5 << 5) | 4));
  EXPECT_EQ(UnpackDateTime(P), T);
  // Odd seconds are halved down.
  tDateTime Odd{1980, 1, 1, 0, 0, 59};
  EXPECT_EQ(UnpackDateTime(PackDateTime(Odd)).Sec, 58);
  EXPECT_EQ(UnpackDateTime(0).Year, 1980);
}

}  // namespace
}  // namespace kelvane
