#include "msgbase/jam.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "msgbase/address.h"
#include "msgbase/baseid.h"
#include "msgbase/jam_test_util.h"
#include "msgbase/message.h"
#include "msgbase/test_fs.h"
#include "msgbase/test_messages.h"
#include "runtime/coding.h"

namespace kelvane {
namespace {

using testing::FillNetmail;
using testing::GetFile;
using testing::IsFile;
using testing::Letter;
using testing::Lines;
using testing::PutFile;
using testing::ReadJamFiles;
using testing::SetU32;
using testing::SubfieldBytes;
using testing::tJamImage;
using testing::tJamSubfields;
using testing::tRuntimeTempDir;
using testing::U32At;

// A new base "area" in a temporary folder, made by Create with mode 0.
class JamTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(Base.Create(Path, 0)); }

  // Appends messages numbered from Count + 1, each with the subject
  // "message N".
  void WriteMessages(int Number) {
    for (int I = 0; I < Number; ++I) {
      tMessage M;
      M.From = "Sender";
      M.To = "All";
      M.Subject = tShortString("message " + std::to_string(Base.Count + 1));
      M.OrigZone = 2, M.OrigNet = 5020, M.OrigNode = 1, M.OrigPoint = 0;
      M.DestZone = 2, M.DestNet = 5020, M.DestNode = 2, M.DestPoint = 0;
      M.DateWritten = tDateTime{2026, 12, 7, 19, 5, 8};
      M.Text.WriteStr("Body of the message\r");
      ASSERT_FALSE(Base.WriteMessage(Base.Count + 1, &M));
    }
  }
  std::string SubjectOf(int32_t N) {
    tMessage M;
    return Base.ReadMessage(N, &M) ? std::string("(none)") : M.Subject.ToStdString();
  }
  // The answers of N as ReadThread lists them, up to the closing 0.
  std::vector<int32_t> Answers(int32_t N) {
    tMessage M;
    std::vector<int32_t> Out;
    if (Base.ReadThread(N, &M)) return Out;
    for (int K = 1; K <= ReplyCount && M.Replies[K] != 0; ++K) Out.push_back(M.Replies[K]);
    return Out;
  }
  std::string Jhr() { return GetFile(Path + ".jhr"); }
  uint32_t Fixed(uint32_t Field) { return U32At(Jhr(), Field); }
  // A field of the header that index record N - 1 points at.
  uint32_t HeaderField(int32_t N, uint32_t Field) {
    std::string Jdx = GetFile(Path + ".jdx");
    return U32At(Jhr(), U32At(Jdx, (N - 1) * 8 + 4) + Field);
  }

  tRuntimeTempDir T;
  std::string Path = T / "area";
  tJamBase Base;
};

TEST(JamCrc, FoldsOnlyLatinCapitals) {
  EXPECT_EQ(JamCrc(""), 0xFFFFFFFFu);
  EXPECT_EQ(JamCrc("All"), 0xC4E78E22u);  // as an independent writer stores it for "All"
  EXPECT_EQ(JamCrc("all"), JamCrc("ALL"));
  EXPECT_EQ(JamCrc("test sysop"), 0x84E5B4A9u);
  EXPECT_EQ(JamCrc("Test Sysop"), JamCrc("TEST SYSOP"));
  EXPECT_NE(JamCrc("\x80"), JamCrc("\xA0"));  // cp866 capitals are not folded
}

TEST_F(JamTest, CreateMakesAnEmptyBase) {
  testing::tFixedClock Clock;
  tJamBase Fresh;
  std::string Other = T / "fresh";
  ASSERT_FALSE(Fresh.Create(Other, 0));
  EXPECT_EQ(Fresh.Closed, cbOpen);
  EXPECT_EQ(Fresh.Count, 0);
  std::string Want(1024, '\0');
  Want.replace(0, 4, std::string("JAM\0", 4));
  SetU32(Want, 4, static_cast<uint32_t>(DateTimeToUnix(tDateTime{2031, 5, 4, 3, 2, 1})));
  SetU32(Want, 8, 1);
  SetU32(Want, 16, 0xFFFFFFFF);
  SetU32(Want, 20, 1);
  EXPECT_EQ(GetFile(Other + ".jhr"), Want);
  for (const char* Ext : {".jdt", ".jdx", ".jqv", ".jlr"}) {
    EXPECT_TRUE(IsFile(Other + Ext)) << Ext;
    EXPECT_EQ(GetFile(Other + Ext), "") << Ext;
  }
  for (int32_t N : {-1, 0, 1}) EXPECT_FALSE(Fresh.Exists(N)) << N;
  tMessage M;
  EXPECT_TRUE(Fresh.ReadMessage(1, &M));
}

// Create makes a base where none is; it never empties a file that holds
// data (a base that could not be opened is busy or damaged, not new), and
// a mode that only opens makes nothing.
TEST_F(JamTest, CreateNeverEmptiesAFileThatHoldsData) {
  for (const char* Held : {".jhr", ".jdt", ".jdx"}) {
    tRuntimeTempDir D;
    std::string P = D / "base";
    PutFile(P + Held, "somebody's data");
    tJamBase B;
    EXPECT_TRUE(B.Create(P, 0)) << Held;
    EXPECT_EQ(B.Closed, cbFailed);
    EXPECT_EQ(GetFile(P + Held), "somebody's data") << Held;
    for (const char* Ext : {".jhr", ".jdt", ".jdx", ".jqv", ".jlr"}) {
      if (std::string(Ext) != Held) {
        EXPECT_FALSE(IsFile(P + Ext)) << Held << " made " << Ext;
      }
    }
    // OpenBase opens (the files are incomplete, so that fails) and then
    // creates: no base, and the data stays.
    EXPECT_FALSE(OpenBase(Letter('J', P), 0)) << Held;
    EXPECT_EQ(GetFile(P + Held), "somebody's data") << Held;
  }
  // Empty files are no data: the base is made over them.
  tRuntimeTempDir D;
  for (const char* Ext : {".jhr", ".jdt", ".jdx"}) PutFile(D / "base" + Ext, "");
  tJamBase B;
  ASSERT_FALSE(B.Create(D / "base", 0));
  EXPECT_EQ(GetFile(D / "base.jhr").size(), 1024u);
  // A look (the mode of kelvutil and the netmail scan) creates nothing.
  EXPECT_FALSE(OpenBase(Letter('J', D / "none"), smOpenRead));
  EXPECT_FALSE(IsFile(D / "none.jhr") || IsFile(D / "none.jqv"));
}

TEST_F(JamTest, OpenBaseTakesJamIdentifiers) {
  WriteMessages(2);
  for (const std::string& Id : {Letter('J', Path), Letter('!', Path), Path + ".JDX", Path + ".jhr"}) {
    auto B = OpenBase(Id, smOpenRead);
    ASSERT_TRUE(B) << Id;
    EXPECT_NE(dynamic_cast<tJamBase*>(B.get()), nullptr) << Id;
    EXPECT_EQ(B->Count, 2) << Id;
    tMessage M;
    ASSERT_FALSE(B->ReadMessage(2, &M)) << Id;
    EXPECT_EQ(M.Subject, "message 2");
  }
  // A missing base is made by OpenBase when the mode creates.
  auto Made = OpenBase(Letter('J', T / "sub" + std::string(1, PathSeparator) + "new"), 0);
  ASSERT_TRUE(Made);
  EXPECT_EQ(Made->Count, 0);
  EXPECT_TRUE(IsFile(T / "sub" + std::string(1, PathSeparator) + "new.jhr"));
}

TEST_F(JamTest, AppendGoesBeyondCount) {
  WriteMessages(5);
  EXPECT_EQ(Fixed(fhModCounter), 6u);
  tMessage M;
  M.Subject = "far away";
  EXPECT_TRUE(Base.WriteMessage(0, &M));
  EXPECT_TRUE(Base.WriteMessage(-3, &M));
  ASSERT_FALSE(Base.WriteMessage(100, &M));
  EXPECT_EQ(Base.Count, 6);
  EXPECT_EQ(M.State, msWritten);
  EXPECT_EQ(SubjectOf(6), "far away");
  EXPECT_EQ(HeaderField(6, jhMessageNumber), 6u);
  EXPECT_EQ(Fixed(fhActiveMsgs), 6u);
  EXPECT_EQ(Fixed(fhModCounter), 7u);
  EXPECT_EQ(GetFile(Path + ".jdx").size(), 48u);
  // Reopened, the base counts its index records.
  tJamBase Again;
  ASSERT_FALSE(Again.Open(Path, 0));
  EXPECT_EQ(Again.Count, 6);
}

// The bytes of one message: the header fields, the subfields in their
// order, the text with its tear and origin lines, the index record.
TEST_F(JamTest, WrittenBytesAreTheJamLayout) {
  tMessage M;
  FillNetmail(M);
  M.Cost = 7;
  M.DateArrived = tDateTime{2026, 12, 8, 1, 2, 3};
  M.AttrFlags[10] = 1;  // FRq: the subject names the files
  ASSERT_FALSE(Base.WriteMessage(1, &M));

  std::string Jhr = this->Jhr();
  std::string Jdx = GetFile(Path + ".jdx");
  ASSERT_EQ(Jdx.size(), 8u);
  EXPECT_EQ(U32At(Jdx, 0), JamCrc("Test Sysop"));
  EXPECT_EQ(U32At(Jdx, 4), 1024u);
  std::string H = Jhr.substr(1024, 76);
  EXPECT_EQ(H.substr(0, 6), std::string("JAM\0\1\0", 6));
  EXPECT_EQ(U32At(H, jhTimesRead), 3u);
  EXPECT_EQ(U32At(H, jhMsgIdCrc), JamCrc("2:5020/2.7 12345678"));
  EXPECT_EQ(U32At(H, jhReplyCrc), JamCrc("2:5020/1.3 87654321"));
  EXPECT_EQ(U32At(H, jhReply1st), 12u);
  EXPECT_EQ(U32At(H, jhDateWritten), static_cast<uint32_t>(DateTimeToUnix(tDateTime{2026, 12, 7, 19, 5, 8})));
  EXPECT_EQ(U32At(H, jhDateProcessed), static_cast<uint32_t>(DateTimeToUnix(tDateTime{2026, 12, 8, 1, 2, 3})));
  EXPECT_EQ(U32At(H, jhMessageNumber), 1u);
  // Pvt, K/s, FRq; Dir and Imm from the FLAGS names; netmail.
  EXPECT_EQ(U32At(H, jhAttribute), 0x00000004u | 0x20 | 0x1000 | 0x400 | 0x200 | 0x02000000);
  EXPECT_EQ(U32At(H, jhTxtOffset), 0u);
  EXPECT_EQ(U32At(H, jhPasswordCrc), 0xFFFFFFFFu);
  EXPECT_EQ(U32At(H, jhCost), 7u);

  std::string Subject = M.Subject.ToStdString();
  std::string Want = SubfieldBytes({{0, "2:5020/2.7"},
                                    {1, "2:5020/1.3"},
                                    {2, "Ivan Petrov"},
                                    {3, "Test Sysop"},
                                    {4, "2:5020/2.7 12345678"},
                                    {5, "2:5020/1.3 87654321"},
                                    {6, Subject},
                                    {7, "kelvane 1"},
                                    {11, Subject},
                                    {2000, "Via 2:5020/1 @20261207.190508 kelvane"},
                                    {2000, "TID: tosser 2"},
                                    {2000, "CHRS: CP866 2"},
                                    {2004, "0300"},  // TZUTC has a subfield of its own
                                    {2003, "DIR IMM"},
                                    {2001, "5020/1 2"},
                                    {2002, "5020/2"},
                                    {2002, "5020/1"}});
  EXPECT_EQ(U32At(H, jhSubfieldLen), Want.size());
  EXPECT_EQ(Jhr.substr(1100), Want);
  std::string Text = "First line\r\rThird line\r--- kelvane\r * Origin: Test Station (2:5020/2.7)\r";
  EXPECT_EQ(GetFile(Path + ".jdt"), Text);
  EXPECT_EQ(U32At(H, jhTxtLen), Text.size());
}

// A message read and written again is stored as before (its layout is
// pinned down above), and the fields a read derives are right.
TEST_F(JamTest, RoundTripKeepsEveryField) {
  tMessage Out;
  FillNetmail(Out);
  Out.Cost = 7;
  Out.DateArrived = tDateTime{2026, 12, 8, 1, 2, 3};
  ASSERT_FALSE(Base.WriteMessage(1, &Out));
  tMessage In;
  In.Kludges.Append("\x01" "OLD");
  ASSERT_FALSE(Base.ReadMessage(1, &In));
  EXPECT_EQ(In.State, msRead);
  EXPECT_EQ(In.DateStr, "07 Dec 26  19:05:08");
  EXPECT_TRUE(In.DateArrived == (tDateTime{2026, 12, 8, 1, 2, 3}));
  EXPECT_EQ(OrigAddrStr(In) + " " + DestAddrStr(In), "2:5020/2.7 2:5020/1.3");
  EXPECT_EQ(In.Intl, "2:5020/1 2:5020/2");  // from the address subfields
  EXPECT_EQ(In.Completed & (cvMsgId | cvIntl | cvOrigPoint), 0);
  // TID travels as a kludge subfield in JAM and comes back into its field.
  EXPECT_EQ(In.Tid, "tosser 2");
  EXPECT_EQ(Lines(In.Kludges), (std::vector<std::string>{"\x01" "CHRS: CP866 2", "\x01" "TZUTC: 0300"}));
  EXPECT_EQ(In.Text.View(), "First line\r\rThird line\r");
  EXPECT_EQ(In.TearLine + "|" + In.Origin, " kelvane|Test Station ");
  EXPECT_EQ(In.Attr, maPrivate | maKillSent);
  EXPECT_EQ(In.Flags, "DIR IMM");
  EXPECT_EQ(In.Replies[1], 12);
  EXPECT_EQ(In.MsgNum, 1u);
  // The header alone: every subfield, no text.
  tMessage Head;
  ASSERT_FALSE(Base.ReadHeader(1, &Head));
  EXPECT_EQ(Base.HeaderOnly, 0);
  EXPECT_EQ(Head.Subject, Out.Subject);
  EXPECT_EQ(Lines(Head.Kludges), Lines(In.Kludges));
  EXPECT_EQ(Head.Text.GetSize(), 0);

  // Written again: the same header but for its number and text offset, the
  // same subfields, the same text.
  ASSERT_FALSE(Base.WriteMessage(2, &In));
  std::string J = Jhr(), Jdt = GetFile(Path + ".jdt");
  size_t Size = J.size() - 1024;
  ASSERT_EQ(Size % 2, 0u);
  std::string First = J.substr(1024, Size / 2), Second = J.substr(1024 + Size / 2);
  for (std::string* H : {&First, &Second}) SetU32(*H, jhMessageNumber, 0), SetU32(*H, jhTxtOffset, 0);
  EXPECT_EQ(First, Second);
  EXPECT_EQ(Jdt.substr(0, Jdt.size() / 2), Jdt.substr(Jdt.size() / 2));
}

TEST_F(JamTest, ReplaceKeepsTheNumberAndMarksTheOldHeader) {
  WriteMessages(5);
  Base.SetReplyNext(3, 5);
  // Fields the replace takes over from the old header, set behind the
  // library's back.
  {
    std::string J = Jhr();
    size_t Old = U32At(GetFile(Path + ".jdx"), 2 * 8 + 4);
    SetU32(J, Old + jhDateReceived, 123456);
    SetU32(J, Old + jhAttribute2, 0xABCD);
    PutFile(Path + ".jhr", J);
    ASSERT_FALSE(Base.Open(Path, 0));
  }
  uint32_t OldOffset = U32At(GetFile(Path + ".jdx"), 2 * 8 + 4);
  size_t SizeBefore = Jhr().size();
  uint32_t Mod = Fixed(fhModCounter);
  tMessage M;
  M.Subject = "replaced";
  M.Text.WriteStr("New text\r");
  ASSERT_FALSE(Base.WriteMessage(3, &M));
  EXPECT_EQ(Base.Count, 5);
  EXPECT_EQ(Fixed(fhActiveMsgs), 5u);
  EXPECT_EQ(Fixed(fhModCounter), Mod + 1);
  EXPECT_EQ(SubjectOf(3), "replaced");
  EXPECT_EQ(SubjectOf(4), "message 4");
  std::string J = Jhr();
  EXPECT_EQ(U32At(GetFile(Path + ".jdx"), 2 * 8 + 4), SizeBefore);  // the new header was appended
  EXPECT_EQ(U32At(J, OldOffset + jhAttribute) & jaDeleted, jaDeleted);
  EXPECT_EQ(U32At(J, OldOffset + jhTxtOffset), 0u);
  EXPECT_EQ(U32At(J, OldOffset + jhTxtLen), 0u);
  EXPECT_EQ(HeaderField(3, jhMessageNumber), 3u);
  EXPECT_EQ(HeaderField(3, jhReplyNext), 5u);
  EXPECT_EQ(HeaderField(3, jhDateReceived), 123456u);
  EXPECT_EQ(HeaderField(3, jhAttribute2), 0xABCDu);

  // A deleted record written again is a new message: counted, fresh fields.
  ASSERT_FALSE(Base.DeleteMessage(3));
  EXPECT_EQ(Fixed(fhActiveMsgs), 4u);
  M.Subject = "again";
  ASSERT_FALSE(Base.WriteMessage(3, &M));
  EXPECT_EQ(Fixed(fhActiveMsgs), 5u);
  EXPECT_EQ(SubjectOf(3), "again");
  EXPECT_EQ(HeaderField(3, jhReplyNext), 0u);
  EXPECT_EQ(HeaderField(3, jhDateReceived), 0u);
}

// Deleting an answer takes it out of its parent's chain: first and middle
// answers as the format expects them (ascending), and chains other writers
// leave behind (any order, circles, an answer not in the chain).
TEST_F(JamTest, DeleteRepairsTheReplyChain) {
  struct {
    const char* Name;
    std::vector<int32_t> Chain;  // the answers of message 1, in chain order
    int32_t Deleted;
    std::vector<int32_t> After;
  } Cases[] = {
      {"first of three", {2, 3, 4}, 2, {3, 4}},
      {"middle of three", {2, 3, 4}, 3, {2, 4}},
      {"last of three", {2, 3, 4}, 4, {2, 3}},
      {"middle of a descending chain", {4, 3, 2}, 3, {4, 2}},
      {"last of an unordered chain", {4, 2, 3}, 3, {4, 2}},
      {"not in the chain", {2, 4}, 3, {2, 4}},
  };
  for (const auto& C : Cases) {
    tRuntimeTempDir D;
    tJamBase B;
    ASSERT_FALSE(B.Create(D / "b", 0));
    for (int I = 0; I < 5; ++I) {
      tMessage M;
      ASSERT_FALSE(B.WriteMessage(I + 1, &M));
    }
    B.SetReply1st(1, C.Chain[0]);
    for (size_t I = 0; I < C.Chain.size(); ++I) {
      B.SetReplyTo(C.Chain[I], 1);
      if (I + 1 < C.Chain.size()) B.SetReplyNext(C.Chain[I], C.Chain[I + 1]);
    }
    B.SetReplyTo(C.Deleted, 1);
    ASSERT_FALSE(B.DeleteMessage(C.Deleted)) << C.Name;
    EXPECT_FALSE(B.Exists(C.Deleted));
    EXPECT_EQ(B.Count, 5);
    tMessage M;
    ASSERT_FALSE(B.ReadThread(1, &M));
    std::vector<int32_t> Got;
    for (int K = 1; K <= ReplyCount && M.Replies[K]; ++K) Got.push_back(M.Replies[K]);
    EXPECT_EQ(Got, C.After) << C.Name;
  }

  // A chain that runs in a circle ends the search.
  WriteMessages(5);
  Base.SetReply1st(1, 2);
  Base.SetReplyNext(2, 3);
  Base.SetReplyNext(3, 2);
  Base.SetReplyTo(4, 1);
  EXPECT_FALSE(Base.DeleteMessage(4));
  EXPECT_EQ(HeaderField(2, jhReplyNext), 3u);
  EXPECT_EQ(HeaderField(3, jhReplyNext), 2u);

  // The deleted record, the counters; FixLinks 0 leaves the chain alone.
  std::string Jdx = GetFile(Path + ".jdx");
  EXPECT_EQ(Jdx.substr(3 * 8, 8), std::string(8, '\xFF'));
  EXPECT_EQ(Fixed(fhActiveMsgs), 4u);
  Base.FixLinks = 0;
  Base.SetReplyTo(2, 1);
  ASSERT_FALSE(Base.DeleteMessage(2));
  EXPECT_EQ(HeaderField(1, jhReply1st), 2u);
  EXPECT_TRUE(Base.DeleteMessage(2));  // gone already
}

TEST_F(JamTest, LinkReplyKeepsAnswersAscending) {
  WriteMessages(10);
  Base.LinkReply(10, 5);
  Base.LinkReply(10, 9);
  Base.LinkReply(10, 7);
  EXPECT_EQ(Answers(10), (std::vector<int32_t>{5, 7, 9}));
  EXPECT_EQ(Base.GetReplyNext(5), 7);
  EXPECT_EQ(Base.GetReplyNext(7), 9);
  EXPECT_EQ(Base.GetReplyNext(9), 0);
  for (int32_t A : {5, 7, 9}) EXPECT_EQ(Base.GetReplyTo(A), 10) << A;
  Base.LinkReply(10, 3);   // a new first answer
  Base.LinkReply(10, 7);   // already there
  Base.LinkReply(10, 3);
  Base.LinkReply(10, 10);  // itself
  Base.LinkReply(10, 42);  // no such message
  EXPECT_EQ(Answers(10), (std::vector<int32_t>{3, 5, 7, 9}));
  // A chain in a circle below the new answer ends the search for its place.
  Base.SetReplyNext(5, 3);
  Base.LinkReply(10, 8);
  EXPECT_EQ(Base.GetReplyTo(8), 10);
}

// Each change raises ModCounter, by which editors and NNTP gateways notice
// that a base changed; what changes nothing leaves it.
TEST_F(JamTest, LinksAndTimesReadChangeInPlace) {
  WriteMessages(3);
  size_t Size = Jhr().size();
  uint32_t Mod = Fixed(fhModCounter);
  EXPECT_EQ(Base.GetReplyTo(2), 0);
  Base.SetReplyTo(2, 1);
  Base.SetReply1st(1, 2);
  Base.SetReplyNext(2, 3);
  // The cache never answers with what a setter has changed.
  EXPECT_EQ(Base.GetReplyTo(2), 1);
  EXPECT_EQ(Base.GetReplyNext(2), 3);
  Base.SetReplyNext(2, 0);
  EXPECT_EQ(Base.GetReplyNext(2), 0);
  EXPECT_EQ(Base.GetReply1st(1), 2);
  Base.MarkRead(2);
  Base.MarkRead(2);
  tMessage M;
  ASSERT_FALSE(Base.ReadMessage(2, &M));
  EXPECT_EQ(M.TimesRead, 2);
  EXPECT_EQ(M.ReplyTo, 1);
  EXPECT_EQ(Jhr().size(), Size);
  // Numbers that hold no message: nothing is written, the getters say -1
  // and then 0.
  ASSERT_FALSE(Base.DeleteMessage(3));
  EXPECT_EQ(Fixed(fhModCounter), Mod + 7);  // 4 links set, 2 marked read, 1 delete
  std::string Before = Jhr();
  Base.MarkRead(3);
  Base.SetReplyTo(3, 1);
  Base.SetReplyTo(9, 1);
  EXPECT_EQ(Jhr(), Before);
  EXPECT_EQ(Base.GetReplyTo(3), -1);
  EXPECT_EQ(Base.GetReplyTo(3), 0);
}

TEST_F(JamTest, AttributesBothWays) {
  struct {
    uint32_t Jam;
    uint32_t Attr;
    int Ext;  // -1: none
  } Pairs[] = {
      {0x00000001, maLocal, -1},        {0x00000002, maInTransit, -1},     {0x00000004, maPrivate, -1},
      {0x00000008, maReceived, -1},     {0x00000010, maSent, -1},          {0x00000020, maKillSent, -1},
      {0x00000040, 0, efArchiveSent},   {0x00000080, maHold, -1},          {0x00000100, maCrash, -1},
      {0x00000200, 0, efImmediate},     {0x00000400, 0, efDirect},         {0x00001000, maFileRequest, -1},
      {0x00002000, maFileAttached, -1}, {0x00004000, 0, efTruncFileSent},  {0x00008000, 0, efKillFileSent},
      {0x00010000, maReceiptReq, -1},   {0x00020000, maIsReceipt, -1},     {0x00040000, maOrphan, -1},
      {0x40000000, 0, efLock},          {0x80000000, maDeleted, -1},
  };
  for (const auto& P : Pairs) {
    tMessage M;
    if (P.Ext >= 0)
      M.ExtFlags[P.Ext] = 1;
    else
      M.SetAttr(true, P.Attr);
    ASSERT_FALSE(Base.WriteMessage(Base.Count + 1, &M));
    EXPECT_EQ(HeaderField(Base.Count, jhAttribute), P.Jam | jaTypeNet) << std::hex << P.Jam;
    tMessage R;
    ASSERT_FALSE(P.Attr == maDeleted ? Base.ReadMarkedDeleted(Base.Count, &R) : Base.ReadMessage(Base.Count, &R));
    EXPECT_EQ(R.Attr, P.Attr) << std::hex << P.Jam;
    for (int E = 0; E < ExtFlagCount; ++E) EXPECT_EQ(R.ExtFlags[E], E == P.Ext) << std::hex << P.Jam << " " << E;
  }
  // Flags with no JAM bit go in the FLAGS subfield only; the message type
  // is its kind, or else follows the area, and comes back as the kind.
  const struct {
    uint8_t Kind;
    const char* Area;
    uint32_t Type;
  } Kinds[] = {{mkUnknown, "", jaTypeNet}, {mkUnknown, "ECHO.ONE", jaTypeEcho}, {mkEchomail, "", jaTypeEcho},
               {mkNetmail, "", jaTypeNet}, {mkLocal, "", jaTypeLocal}};
  for (const auto& K : Kinds) {
    tMessage M, R;
    M.ExtFlags[efHub] = 1, M.Area = K.Area, M.Kind = K.Kind;
    M.Attr = 0x4400;  // ARq and a bit of no name: no JAM counterparts
    ASSERT_FALSE(Base.WriteMessage(Base.Count + 1, &M));
    EXPECT_EQ(HeaderField(Base.Count, jhAttribute), K.Type);
    ASSERT_FALSE(Base.ReadMessage(Base.Count, &R));
    EXPECT_EQ(R.Flags + " " + IntToStr(R.Attr) + " " + KindName(R.Kind), tShortString("HUB 0 ") + KindName(KindOf(M)));
  }
}

// What each subfield becomes on reading, from a base laid out by hand.
// A stamp of 0 is a writer's "no date": not the first second of 1970.
TEST(JamSubfields, AZeroStampIsNoDate) {
  tJamImage I;
  I.Add({{2, "Ivan"}, {6, "undated"}}, "Body\r", [](std::string& H) { SetU32(H, jhDateWritten, 0); });
  I.Add({{2, "Ivan"}, {6, "dated"}}, "Body\r", [](std::string& H) { SetU32(H, jhDateProcessed, 1700000000); });
  tJamBase B;
  ASSERT_TRUE(B.OpenImages(I.Jhr, I.Jdt, I.Jdx));
  tMessage M;
  ASSERT_FALSE(B.ReadMessage(1, &M));
  EXPECT_TRUE(M.DateWritten == tDateTime());
  EXPECT_TRUE(M.DateArrived == tDateTime());
  ASSERT_FALSE(B.ReadMessage(2, &M));
  EXPECT_EQ(M.DateWritten.Year, 2023);
  EXPECT_EQ(M.DateArrived.Year, 2023);
  EXPECT_EQ(M.DateStr.Length(), 19u);
}

TEST(JamSubfields, AListingReadsTheTextOnlyWhenTheAddressSubfieldsLeaveAWordOpen) {
  // Sender and recipient subfields, and the text each message carries;
  // what the listing must show is what the whole read shows.
  struct tCase {
    const char* Name;
    tJamSubfields Subfields;
    const char* Text;
    const char* Orig;
    const char* Dest;
  };
  const tCase Cases[] = {
      {"whole subfields over the text's kludges", {{0, "2:5020/1.3"}, {1, "2:5020/2"}},
       "\1INTL 7:7/7 8:8/8\r\1FMPT 9\rBody\r * Origin: o (6:6/6)\r", "2:5020/1.3", "2:5020/2"},
      // (The INTL the subfields make up replaces the text's; the recipient
      // lends the zone.)
      {"no zone in the sender's subfield", {{0, "0:5020/1"}, {1, "2:5020/2"}}, "\1INTL 2:5020/2 3:5020/1\rBody\r",
       "2:5020/1", "2:5020/2"},
      {"no sender's subfield: the text's MSGID", {{1, "2:5020/2"}}, "\1MSGID: 4:5020/7 abcd\rBody\r", "4:5020/7",
       "2:5020/2"},
      {"no recipient's subfield: the text's INTL", {{0, "2:5020/1"}}, "\1INTL 1:2/3 2:5020/1\rBody\r", "2:5020/1",
       "1:2/3"},
      {"no sender's subfield, no MSGID: the origin line", {{1, "2:5020/2"}}, "Body\r * Origin: o (5:5020/9)\r",
       "5:5020/9", "2:5020/2"},
  };
  tJamImage I;
  for (const tCase& C : Cases) {
    tJamSubfields Sub = C.Subfields;
    Sub.push_back({2, C.Name});
    I.Add(Sub, C.Text);
  }
  tJamBase B;
  ASSERT_TRUE(B.OpenImages(I.Jhr, I.Jdt, I.Jdx));
  tMessage Whole, Listed;
  for (int32_t N = 1; N <= B.Count; ++N) {
    const tCase& C = Cases[N - 1];
    ASSERT_FALSE(B.ReadMessage(N, &Whole)) << C.Name;
    ASSERT_FALSE(B.ReadListed(N, &Listed)) << C.Name;
    EXPECT_EQ(OrigAddrStr(Whole), C.Orig) << C.Name;
    EXPECT_EQ(DestAddrStr(Whole), C.Dest) << C.Name;
    EXPECT_EQ(testing::ListedFields(Listed), testing::ListedFields(Whole)) << C.Name;
  }
}

TEST(JamSubfields, EachKindGoesToItsField) {
  tJamImage I;
  I.Add({{0, "2:5020/1.3@fidonet"},
         {1, "1:2/3"},
         {2, "Ivan\0junk after the NUL"},
         {3, "All"},
         {4, "2:5020/1.3 0badcafe"},
         {5, "1:2/3 12345678"},
         {6, std::string(300, 'x')},  // longer than a string holds: cut
         {6, "Subject"},
         {7, "pid 1"},
         {2004, "-0500"},
         {2000, "X-LONG: " + std::string(300, 'y')},
         {2000, "MSGID: 2:5020/9 99999999"},
         {2000, "AREA:TEST.AREA"},
         {2000, "INTL 9:9/9 8:8/8"},
         {2000, "FMPT 4"},
         {2000, "Via 2:5020/1 @20261207.190508 tosser"},
         {2000, "Recd 2:5020/1"},
         {2000, "\x01" "CHRS: CP866 2"},
         {2000, "TID: tosser 2"},
         {1000, "EMBIN: data"},
         {8, "20261207190508 2:5020/123"},
         {8, "2:5020/1 @20240405.134744 sqpeer"},
         {0x00010002, "an id with a high word: not a name"},
         {9, "file.zip"},  // no file attach: not the subject
         {2001, "5020/1 2"},
         {2002, "5020/1"},
         {2003, "cfm xyz"}},
        "Body\r", [](std::string& H) { SetU32(H, jhAttribute, 0x02000400); });  // Dir
  I.Add({{9, "c:\\files\\a.zip"}, {11, "not this"}}, "",
        [](std::string& H) { SetU32(H, jhAttribute, 0x00002000); });  // Att
  I.Add({{11, "FILES"}, {9, "not this"}}, "", [](std::string& H) { SetU32(H, jhAttribute, 0x00001000); });  // FRq
  tJamBase B;
  ASSERT_TRUE(B.OpenImages(I.Jhr, I.Jdt, I.Jdx));
  tMessage M;
  ASSERT_FALSE(B.ReadMessage(1, &M));
  EXPECT_EQ(OrigAddrStr(M), "2:5020/1.3");
  EXPECT_EQ(M.OrigDomain, "fidonet");
  EXPECT_EQ(DestAddrStr(M), "1:2/3");
  EXPECT_EQ(M.Intl, "1:2/3 2:5020/1");  // from the addresses, not the INTL kludge
  EXPECT_EQ(M.From, "Ivan");
  EXPECT_EQ(M.To, "All");
  EXPECT_EQ(M.MsgId, "2:5020/1.3 0badcafe");
  EXPECT_EQ(M.ReplyId, "1:2/3 12345678");
  EXPECT_EQ(M.Subject, "Subject");
  EXPECT_EQ(M.Pid, "pid 1");
  EXPECT_EQ(M.Area, "TEST.AREA");
  EXPECT_EQ(M.Tid, "tosser 2");
  EXPECT_EQ(Lines(M.Kludges),
            (std::vector<std::string>{"\x01" "TZUTC: -0500", "\x01" "X-LONG: " + std::string(246, 'y'),
                                      "\x01" "MSGID: 2:5020/9 99999999", "\x01" "CHRS: CP866 2", "\x01" "EMBIN: data"}));
  EXPECT_EQ(B.Losses().Cut, (std::vector<uint32_t>{6, 2000}));
  EXPECT_EQ(B.Losses().Skipped, (std::vector<uint32_t>{0x00010002, 9}));
  EXPECT_EQ(Lines(M.RouteLines),
            (std::vector<std::string>{"\x01" "Via 2:5020/1 @20261207.190508 tosser", "\x01" "Recd 2:5020/1",
                                      "\x01" "Via  2:5020/123 @20261207.190508 from jam area by Pelm",
                                      "\x01" "Via 2:5020/1 @20240405.134744 sqpeer"}));
  EXPECT_EQ(Lines(M.SeenByLines), (std::vector<std::string>{"5020/1 2"}));
  EXPECT_EQ(Lines(M.PathLines), (std::vector<std::string>{"5020/1"}));
  // The FLAGS subfield and the attribute bits together.
  EXPECT_EQ(M.Flags, "DIR CFM");
  EXPECT_EQ(M.FlagsRest, "XYZ");
  EXPECT_EQ(M.Text.View(), "Body\r");
  EXPECT_EQ(M.DateStr, "14 Nov 23  22:13:20");
  ASSERT_FALSE(B.ReadMessage(2, &M));
  EXPECT_EQ(M.Subject, "c:\\files\\a.zip");
  EXPECT_EQ(M.Text.GetSize(), 0);  // TxtLen 0: no text, and the read succeeds
  ASSERT_FALSE(B.ReadMessage(3, &M));
  EXPECT_EQ(M.Subject, "FILES");
}

TEST_F(JamTest, EmptyRecipientHasTheCrcOfNothing) {
  tMessage M;
  ASSERT_FALSE(Base.WriteMessage(1, &M));
  M.To = "SYSOP";
  ASSERT_FALSE(Base.WriteMessage(2, &M));
  M.To = "sysop";
  ASSERT_FALSE(Base.WriteMessage(3, &M));
  std::string Jdx = GetFile(Path + ".jdx");
  EXPECT_EQ(U32At(Jdx, 0), 0xFFFFFFFFu);
  EXPECT_EQ(U32At(Jdx, 8), U32At(Jdx, 16));
  // An empty message stores addresses it does not know as 0, never the
  // unset mark, and dates it when written.
  tJamRawMessage Raw;
  ASSERT_TRUE(Base.ReadRaw(1, Raw));
  ASSERT_GE(Raw.Subfields.size(), 2u);
  EXPECT_EQ(Raw.Subfields[0].second, "0:0/0");
  EXPECT_NE(U32At(std::string(reinterpret_cast<char*>(Raw.Header), 76), jhDateWritten), 0u);
}

// A first answer that names no message (beyond the base, or deleted
// without repair by another writer) gives way to the new answer.
TEST_F(JamTest, LinkReplyPastAFirstAnswerThatIsNoMessage) {
  WriteMessages(9);
  const struct { int32_t Parent, First, Answer; } Cases[] = {{1, 99, 3}, {5, 6, 7}};
  for (const auto& C : Cases) {
    Base.SetReply1st(C.Parent, C.First);
    Base.DeleteMessage(C.First);
    Base.LinkReply(C.Parent, C.Answer);
    EXPECT_EQ(Answers(C.Parent), std::vector<int32_t>{C.Answer}) << C.First;
    EXPECT_EQ(Base.GetReplyTo(C.Answer), C.Parent) << C.First;
  }
}

// The list of answers ends at an answer whose header cannot be read.
TEST_F(JamTest, ReadThreadStopsAtAnUnreadableAnswer) {
  WriteMessages(12);
  // Threads 1, 5 and 9, each with three answers, the second of them damaged.
  const struct { const char* Name; uint32_t Offset; } Cases[] = {
      {"record past .jhr", 0x7FFFFF00}, {"record cleared", 0xFFFFFFFF}, {"header not valid", 0}};
  for (int32_t P : {1, 5, 9}) {
    Base.SetReply1st(P, P + 1);
    Base.SetReplyNext(P + 1, P + 2);
    Base.SetReplyNext(P + 2, P + 3);
  }
  std::string J = Jhr(), Jdx = GetFile(Path + ".jdx");
  for (int32_t P : {1, 5, 9}) {
    size_t Record = static_cast<size_t>(P + 1) * 8 + 4;
    if (Cases[P / 4].Offset)
      SetU32(Jdx, Record, Cases[P / 4].Offset);
    else
      J.replace(U32At(Jdx, Record), 6, 6, 'x');  // signature and revision
  }
  PutFile(Path + ".jhr", J);
  PutFile(Path + ".jdx", Jdx);
  ASSERT_FALSE(Base.Open(Path, 0));
  for (int32_t P : {1, 5, 9}) {
    tMessage M;
    for (int K = 1; K <= ReplyCount; ++K) M.Replies[K] = -1;
    ASSERT_FALSE(Base.ReadThread(P, &M));
    std::vector<int32_t> Want(ReplyCount, 0), Got(M.Replies + 1, M.Replies + ReplyCount + 1);
    Want[0] = P + 1, Want[1] = P + 2;
    EXPECT_EQ(Got, Want) << Cases[P / 4].Name;
  }
}

}  // namespace
}  // namespace kelvane
