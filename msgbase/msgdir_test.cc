#include "msgbase/msgdir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <filesystem>
#include <string>
#include <vector>

#include "msgbase/address.h"
#include "msgbase/baseid.h"
#include "msgbase/message.h"
#include "msgbase/test_corpus.h"
#include "msgbase/test_fs.h"
#include "msgbase/text_body.h"
#include "runtime/coding.h"
#include "runtime/path.h"
#include "runtime/stream.h"

namespace kelvane {
namespace {

using testing::FillNetmail;
using testing::GetFile;
using testing::IsFile;
using testing::Letter;
using testing::Lines;
using testing::PutFile;
using testing::tFileSystemScope;
using testing::tRuntimeTempDir;
using testing::tSpyFileSystem;

const std::string S(1, PathSeparator);

std::string BaseId(const tRuntimeTempDir& T) { return Letter('F', T.Path()); }

std::unique_ptr<tMsgBase> OpenDir(const tRuntimeTempDir& T, int32_t Mode = 0) {
  auto Base = OpenBase(BaseId(T), Mode);
  EXPECT_TRUE(Base) << T.Path();
  return Base;
}

// A stored-message header laid out by hand, field by field.
std::string Header(std::string_view From, std::string_view To, std::string_view Subject, std::string_view Date,
                   uint16_t OrigNet, uint16_t OrigNode, uint16_t DestNet, uint16_t DestNode, uint16_t Attr,
                   uint16_t NextReply = 0, uint16_t TimesRead = 0) {
  uint8_t H[190] = {};
  PutTextField(H + 0, 36, From, 35);
  PutTextField(H + 36, 36, To, 35);
  PutTextField(H + 72, 72, Subject, 71);
  PutTextField(H + 144, 20, Date, 19);
  PutU16(H + 164, TimesRead);
  PutU16(H + 166, DestNode);
  PutU16(H + 168, OrigNode);
  PutU16(H + 172, OrigNet);
  PutU16(H + 174, DestNet);
  PutU16(H + 186, Attr);
  PutU16(H + 188, NextReply);
  return std::string(reinterpret_cast<char*>(H), 190);
}

// The text of a written *.MSG file: what follows the header, which must
// end with the one closing NUL.
std::string StoredText(const std::string& File) {
  EXPECT_TRUE(File.size() > 190 && File.back() == '\0') << "no closing NUL";
  return File.size() > 190 ? File.substr(190, File.size() - 191) : std::string();
}

TEST(MsgDirBase, CountIsTheHighestNumberExistsIsTheFile) {
  tRuntimeTempDir T;
  for (const char* Name : {"1.msg", "2.msg", "7.msg", "0010.msg", "abc.msg", "99999999999.msg", "-4.msg",
                           "30.txt", "lastread.kvx"})
    PutFile(T / Name, "");
  auto Base = OpenDir(T);
  EXPECT_EQ(Base->Count, 10);
  for (int32_t N : {1, 2, 7}) EXPECT_TRUE(Base->Exists(N)) << N;
  // 0010.msg counts for the highest number but is not the file of 10.
  for (int32_t N : {-4, 0, 3, 4, 5, 6, 8, 10, 30}) EXPECT_FALSE(Base->Exists(N)) << N;
  // The numbers a walk visits: ascending, each once, the same names counted;
  // what is written later joins them.
  PutFile(T / "02.msg", "");
  auto Again = OpenDir(T);
  auto& Dir = static_cast<tMsgDirBase&>(*Again);
  EXPECT_EQ(Dir.Numbers(), std::vector<int32_t>({1, 2, 7, 10}));
  tMessage M;
  ASSERT_FALSE(Dir.WriteMessage(5, &M));
  ASSERT_FALSE(Dir.WriteMessage(7, &M));
  EXPECT_EQ(Dir.Numbers(), std::vector<int32_t>({1, 2, 5, 7, 10}));

  tRuntimeTempDir Empty;
  EXPECT_EQ(OpenDir(Empty)->Count, 0);
}

TEST(MsgDirBase, WriteDeleteAndCount) {
  tRuntimeTempDir T;
  for (const char* Name : {"1.msg", "2.msg", "7.msg"}) PutFile(T / Name, "");
  auto Base = OpenDir(T);
  ASSERT_EQ(Base->Count, 7);
  tMessage M;
  FillNetmail(M);

  EXPECT_FALSE(Base->WriteMessage(8, &M));
  EXPECT_TRUE(IsFile(T / "8.msg"));
  EXPECT_EQ(Base->Count, 8);
  EXPECT_EQ(M.State, msWritten);
  // Rewriting a lower number does not move the highest number.
  EXPECT_FALSE(Base->WriteMessage(2, &M));
  EXPECT_EQ(Base->Count, 8);
  EXPECT_GT(GetFile(T / "2.msg").size(), 190u);
  // Numbers below 1 have no file that could be read back.
  EXPECT_TRUE(Base->WriteMessage(0, &M));
  EXPECT_FALSE(IsFile(T / "0.msg"));

  EXPECT_FALSE(Base->DeleteMessage(7));
  EXPECT_FALSE(IsFile(T / "7.msg"));
  EXPECT_FALSE(Base->Exists(7));
  EXPECT_EQ(Base->Count, 8);
  EXPECT_TRUE(Base->DeleteMessage(7));
  EXPECT_TRUE(Base->ReadMessage(7, &M));
}

// A missing message leaves the caller's record as it was; one that is there
// but held exclusively by another program reads as a cleared record.
TEST(MsgDirBase, ReadOfMissingAndOfUnreadableMessages) {
  tRuntimeTempDir T;
  auto Base = OpenDir(T);
  tMessage M;
  FillNetmail(M);
  ASSERT_FALSE(Base->WriteMessage(2, &M));
  EXPECT_TRUE(Base->ReadMessage(1, &M));
  EXPECT_FALSE(M.Subject.empty());
  EXPECT_TRUE(Base->ReadMessage(0, &M));
  EXPECT_FALSE(M.Subject.empty());
  {
    tBufStream Held(T / "2.msg", 0x3D12);
    ASSERT_EQ(Held.Status, stOk);
    EXPECT_TRUE(Base->ReadMessage(2, &M));
    EXPECT_TRUE(M.Subject.empty());
  }
  EXPECT_FALSE(Base->ReadMessage(2, &M));
  EXPECT_FALSE(M.Subject.empty());
}

TEST(MsgDirBase, DeleteLeavesAFileHeldOpenElsewhere) {
  tRuntimeTempDir T;
  PutFile(T / "3.msg", "");
  auto Base = OpenDir(T);
  {
    tBufStream Held(T / "3.msg", 0x3D40);
    EXPECT_FALSE(Base->DeleteMessage(3));
    EXPECT_TRUE(IsFile(T / "3.msg"));
  }
  EXPECT_FALSE(Base->DeleteMessage(3));
  EXPECT_FALSE(IsFile(T / "3.msg"));
}

// A message read with its body left in the file: the body is read from
// the file, which stays open (as shared) until the next operation.
TEST(MsgDirBase, ABodyLeftInTheFileHoldsItUntilTheNextOperation) {
  tRuntimeTempDir T;
  auto Base = OpenDir(T);
  tMessage M, Full;
  FillNetmail(M);
  ASSERT_FALSE(Base->WriteMessage(1, &M));
  ASSERT_FALSE(Base->ReadMessage(1, &Full));
  Base->StreamBody = 1;
  ASSERT_FALSE(Base->ReadMessage(1, &M));
  EXPECT_EQ(M.Text.GetSize(), 0);
  EXPECT_EQ(M.Origin, Full.Origin);
  ASSERT_TRUE(Base->Body);
  std::string Body;
  for (std::string_view Piece = Base->Body->Next(); !Piece.empty(); Piece = Base->Body->Next()) Body += Piece;
  EXPECT_EQ(Body, Full.Text.View());
  EXPECT_NE(tBufStream(T / "1.msg", 0x3D12).Status, stOk);  // held
  EXPECT_FALSE(Base->DeleteMessage(1));
  EXPECT_FALSE(Base->Body);
  EXPECT_FALSE(IsFile(T / "1.msg"));
}

TEST(MsgDirBase, RoundTripKeepsEveryField) {
  tRuntimeTempDir T;
  auto Base = OpenDir(T);
  tMessage Out;
  FillNetmail(Out);
  ASSERT_FALSE(Base->WriteMessage(1, &Out));

  tMessage In;
  In.From = "left over";
  In.Kludges.Append("\x01" "OLD");
  ASSERT_FALSE(Base->ReadMessage(1, &In));
  EXPECT_EQ(In.State, msRead);
  EXPECT_EQ(In.From, "Ivan Petrov");
  EXPECT_EQ(In.To, "Test Sysop");
  EXPECT_EQ(In.Subject, Out.Subject);
  EXPECT_EQ(In.DateStr, "07 Dec 26  19:05:08");
  EXPECT_TRUE(In.DateWritten == (tDateTime{2026, 12, 7, 19, 5, 8}));
  EXPECT_EQ(OrigAddrStr(In), "2:5020/2.7");
  EXPECT_EQ(DestAddrStr(In), "2:5020/1.3");
  EXPECT_EQ(In.Intl, "2:5020/1 2:5020/2");
  EXPECT_EQ(In.MsgId, "2:5020/2.7 12345678");
  EXPECT_EQ(In.ReplyId, "2:5020/1.3 87654321");
  EXPECT_EQ(In.Pid, "kelvane 1");
  EXPECT_EQ(In.Tid, "tosser 2");
  EXPECT_EQ(Lines(In.Kludges), (std::vector<std::string>{"\x01" "CHRS: CP866 2", "\x01" "TZUTC: 0300"}));
  EXPECT_EQ(In.Text.View(), "First line\r\rThird line\r");
  EXPECT_EQ(In.TearLine, " kelvane");
  EXPECT_EQ(In.AddTearLine, 1);
  EXPECT_EQ(In.Origin, "Test Station ");
  EXPECT_EQ(In.AddOrigin, 1);
  EXPECT_EQ(Lines(In.SeenByLines), (std::vector<std::string>{"5020/1 2"}));
  EXPECT_EQ(Lines(In.PathLines), (std::vector<std::string>{"5020/2", "5020/1"}));
  EXPECT_EQ(Lines(In.RouteLines), (std::vector<std::string>{"\x01" "Via 2:5020/1 @20261207.190508 kelvane"}));
  EXPECT_EQ(In.Attr, maPrivate | maKillSent);
  EXPECT_EQ(In.AttrFlags[0], 1);
  EXPECT_EQ(In.AttrFlags[7], 1);
  EXPECT_EQ(In.ExtFlags[efDirect], 1);
  EXPECT_EQ(In.ExtFlags[efImmediate], 1);
  EXPECT_EQ(In.Flags, "DIR IMM");
  EXPECT_EQ(In.TimesRead, 3);
  EXPECT_EQ(In.Replies[1], 12);
  EXPECT_EQ(In.Replies[2], 0);
}

TEST(MsgDirBase, ZonesAndPointsTravelInKludges) {
  struct {
    uint16_t OZ, ONet, ONode, OPt, DZ, DNet, DNode, DPt;
    const char* Orig;
    const char* Dest;
  } Cases[] = {
      {1, 234, 5, 0, 3, 633, 260, 1, "1:234/5", "3:633/260.1"},
      {2, 5020, 0, 12, 2, 5020, 1, 0, "2:5020/0.12", "2:5020/1"},
      {7, 65534, 65534, 65534, 4, 1, 1, 2, "7:65534/65534.65534", "4:1/1.2"},
  };
  tRuntimeTempDir T;
  auto Base = OpenDir(T);
  for (const auto& C : Cases) {
    tMessage M;
    M.From = "a";
    M.To = "b";
    M.OrigZone = C.OZ, M.OrigNet = C.ONet, M.OrigNode = C.ONode, M.OrigPoint = C.OPt;
    M.DestZone = C.DZ, M.DestNet = C.DNet, M.DestNode = C.DNode, M.DestPoint = C.DPt;
    M.Intl = AddrStr(C.DZ, C.DNet, C.DNode, 0) + " " + AddrStr(C.OZ, C.ONet, C.ONode, 0);
    ASSERT_FALSE(Base->WriteMessage(1, &M));
    tMessage R;
    ASSERT_FALSE(Base->ReadMessage(1, &R));
    EXPECT_EQ(OrigAddrStr(R), C.Orig);
    EXPECT_EQ(DestAddrStr(R), C.Dest);
  }
}

TEST(MsgDirBase, WrittenBytesAreTheStoredMessageLayout) {
  tRuntimeTempDir T;
  auto Base = OpenDir(T);
  tMessage M;
  M.From = tShortString(std::string(40, 'F'));  // cut to 35 and a NUL
  M.To = "To";
  M.Subject = tShortString(std::string(80, 's'));  // cut to 71
  M.DateWritten = tDateTime{2026, 12, 7, 19, 5, 8};
  M.OrigZone = 2, M.OrigNet = 5020, M.OrigNode = 2, M.OrigPoint = 7;
  M.DestZone = 2, M.DestNet = 5021, M.DestNode = 1, M.DestPoint = 0;
  M.Intl = "2:5021/1 2:5020/2";
  M.MsgId = "2:5020/2.7 1";
  M.ExtFlags[efDirect] = 1;
  M.Kludges.Append("\x01" "CHRS: CP866 2");
  M.Text.WriteStr("Body");  // no closing CR: the tear line must not join it
  M.TearLine = " t";
  M.AddTearLine = 1;
  M.Origin = "Stn ";
  M.AddOrigin = 1;
  M.SeenByLines.Append("5020/1");
  M.PathLines.Append("5020/2");
  M.RouteLines.Append("\x01" "Via x");
  M.Attr = 0x10400;  // mirrored bits follow AttrFlags; only the low 16 bits are stored
  M.AttrFlags[0] = 1;
  M.Cost = 99;       // cost is always stored as 0
  M.Replies[1] = 0x10007;
  ASSERT_FALSE(Base->WriteMessage(4, &M));

  std::string Want = Header(std::string(35, 'F'), "To", std::string(71, 's'), "07 Dec 26  19:05:08", 5020, 2,
                            5021, 1, 0x0401, 7);
  Want += "\x01" "FMPT 7\r"
          "\x01" "INTL 2:5021/1 2:5020/2\r"
          "\x01" "MSGID: 2:5020/2.7 1\r"
          "\x01" "FLAGS DIR\r"
          "\x01" "CHRS: CP866 2\r"
          "Body\r"
          "--- t\r"
          " * Origin: Stn (2:5020/2.7)\r"
          "SEEN-BY: 5020/1\r"
          "\x01" "PATH: 5020/2\r"
          "\x01" "Via x\r";
  Want += '\0';  // the text's closing NUL
  EXPECT_EQ(GetFile(T / "4.msg"), Want);
}

TEST(MsgDirBase, OriginAndAddressLinesByKindOfMessage) {
  struct {
    const char* Area;
    const char* Origin;
    bool AddOrigin;
    const char* Text;  // what follows the MSGID line
  } Cases[] = {
      // Echomail: no FMPT, TOPT or INTL even with points on both sides.
      {"ECHO.ONE", "Stn ", true, "B\r * Origin: Stn (2:5020/2.7)\r"},
      {"ECHO.ONE", "", true, "B\r * Origin: (2:5020/2.7)\r"},
      {"ECHO.ONE", "Stn ", false, "B\r"},
      // Netmail with no origin text gets no origin line.
      {"", "", true, "B\r"},
  };
  tRuntimeTempDir T;
  auto Base = OpenDir(T);
  for (const auto& C : Cases) {
    tMessage M;
    M.Area = C.Area;
    M.Origin = C.Origin;
    M.AddOrigin = C.AddOrigin;
    M.OrigZone = 2, M.OrigNet = 5020, M.OrigNode = 2, M.OrigPoint = 7;
    M.DestZone = 2, M.DestNet = 5020, M.DestNode = 1, M.DestPoint = 3;
    M.Intl = "2:5020/1 2:5020/2";
    M.MsgId = "2:5020/2.7 1";
    M.Text.WriteStr("B\r");
    ASSERT_FALSE(Base->WriteMessage(1, &M));
    std::string Text = StoredText(GetFile(T / "1.msg"));
    std::string Head = *C.Area ? "" : "\x01" "FMPT 7\r" "\x01" "TOPT 3\r" "\x01" "INTL 2:5020/1 2:5020/2\r";
    EXPECT_EQ(Text, Head + "\x01" "MSGID: 2:5020/2.7 1\r" + C.Text) << C.Area << "|" << C.Origin;
  }
}

TEST(MsgDirBase, UnsetPointsAndEmptyDatesWriteNothingFalse) {
  tRuntimeTempDir T;
  auto Base = OpenDir(T);
  tMessage M;  // every address word unset, no date
  M.Text.WriteStr("x\r");
  ASSERT_FALSE(Base->WriteMessage(1, &M));
  std::string File = GetFile(T / "1.msg");
  EXPECT_EQ(File.substr(190), std::string("x\r\0", 3));  // no "FMPT 65535"
  tMessage R;
  ASSERT_FALSE(Base->ReadMessage(1, &R));
  EXPECT_NE(R.DateWritten.Year, 0);  // dated when written, not "00  00"
  EXPECT_EQ(R.DateStr.Length(), 19u);
}

TEST(MsgDirBase, ForeignBytesAfterNulAndUnterminatedFields) {
  tRuntimeTempDir T;
  // Names as another tosser leaves them: a NUL, then leftover memory.
  std::string H = Header("Ivan", "Sysop", "Subj", "01 Jan 26  00:00:00", 1, 2, 3, 4, 0x0101);
  H.replace(5, 10, "GARBAGE\xff\x7f\x01");
  H.replace(36 + 6, 8, "\x80\x81garbag");
  // A subject that fills its whole field with no NUL at all.
  H.replace(72, 72, std::string(72, 'S'));
  PutFile(T / "1.msg", H + "Body\r" + std::string(1, '\0'));
  auto Base = OpenDir(T);
  tMessage M;
  ASSERT_FALSE(Base->ReadMessage(1, &M));
  EXPECT_EQ(M.From, "Ivan");
  EXPECT_EQ(M.To, "Sysop");
  EXPECT_EQ(M.Subject.View(), std::string(72, 'S'));
  EXPECT_EQ(M.OrigNet, 1);
  EXPECT_EQ(M.OrigNode, 2);
  EXPECT_EQ(M.DestNet, 3);
  EXPECT_EQ(M.DestNode, 4);
  EXPECT_EQ(M.Attr, 0x0101u);
  EXPECT_EQ(M.Text.View(), "Body\r");  // the closing NUL is not text
}

// A message read and written again gains no line, loses none and keeps
// its origin line: stored texts as other software writes them.
TEST(MsgDirBase, AReadAndAWriteAddNothing) {
  using namespace std::string_literals;
  struct tCase {
    const char* Name;
    uint16_t Net, Node;  // the header's origin net and node
    std::string Stored;
    std::string Written;  // empty: the text as stored, without its NUL
    const char* Orig;
  };
  const tCase Cases[] = {
      {"echomail as crashmail stores it: net 0 and node 0", 0, 0,
       "\1MSGID: 2:5020/1.3 18b37601\rHello\r--- CrashWrite\r * Origin: Pointland (2:5020/1.3)\r"
       "\1PATH: 5020/1\r\0"s,
       "", "2:5020/1.3"},
      {"an origin line in its own spelling", 0, 0, "Hi\r * Origin: Node One (2:5020/1.0@fidonet)\r"s, "", "2:5020/1"},
      {"netmail without MSGID and INTL", 5020, 2, "\1CHRS: CP866 2\rBody\r\0"s, "", "2:5020/2"},
      {"a point known from the MSGID only: no FMPT", 5020, 2, "\1MSGID: 2:5020/2.7 1\rBody\r"s, "", "2:5020/2.7"},
      {"FLAGS: whole words, unknown ones kept", 5020, 2, "\1FLAGS XPVT dir zzz\rBody\r"s,
       "\1FLAGS DIR XPVT ZZZ\rBody\r", "2:5020/2"},
      {"lines an editor left after the NUL", 5020, 2, "Body\r\0-OLD.AREA\r"s, "Body\r", "2:5020/2"},
      {"an LF text whose body begins with a blank line", 5020, 2, "\1PID: p\n\nBody\n"s, "", "2:5020/2"},
  };
  tRuntimeTempDir T;
  auto Base = OpenDir(T);
  for (const tCase& C : Cases) {
    PutFile(T / "1.msg", Header("a", "b", "s", "07 Dec 26  19:05:08", C.Net, C.Node, 5020, 1, 0) + C.Stored);
    tMessage M;
    ASSERT_FALSE(Base->ReadMessage(1, &M)) << C.Name;
    EXPECT_EQ(OrigAddrStr(M), C.Orig) << C.Name;
    EXPECT_FALSE(M.HasAttr(maPrivate)) << C.Name;  // not from "XPVT"
    ASSERT_FALSE(Base->WriteMessage(2, &M)) << C.Name;
    std::string Want = C.Written.empty() ? C.Stored.substr(0, C.Stored.find('\0')) : C.Written;
    EXPECT_EQ(StoredText(GetFile(T / "2.msg")), Want) << C.Name;
  }
}

// Attributes and dates the caller set, or the message lacks.
TEST(MsgDirBase, AttributesSetByTheCallerAndMessagesWithoutADate) {
  testing::tFixedClock Clock;
  tRuntimeTempDir T;
  auto Base = OpenDir(T);
  PutFile(T / "1.msg", Header("a", "b", "s", "", 5020, 2, 5020, 1, maPrivate) + "Body\r");
  tMessage M;
  ASSERT_FALSE(Base->ReadMessage(1, &M));
  EXPECT_TRUE(M.DateStr.Empty());  // no "00  00  00:00:00"
  M.SetAttr(true, maKillSent);
  M.Attr |= maLocal;
  ASSERT_FALSE(Base->WriteMessage(2, &M));
  tMessage R;
  ASSERT_FALSE(Base->ReadMessage(2, &R));
  EXPECT_EQ(R.Attr, maPrivate | maKillSent | maLocal);
  EXPECT_EQ(R.DateStr, "04 May 31  03:02:01");  // dated when written

  // The text an empty date became before is no date either.
  tMessage Built;
  Built.DateStr = "00  00  00:00:00";
  ASSERT_FALSE(Base->WriteMessage(3, &Built));
  EXPECT_EQ(GetFile(T / "3.msg").substr(144, 19), "04 May 31  03:02:01");
}

// Names cut at 255 characters would be other files: they are refused, and
// nothing is created, written or read in their place.
TEST(MsgDirBase, NamesThatDoNotFitAreRefused) {
  tRuntimeTempDir T;
  // A folder of 244 characters: "100000.msg" still fits behind it, and
  // "1000000.msg" does not.
  std::string Folder = T.Path();
  while (Folder.size() < 244) {
    size_t Need = 244 - Folder.size();
    if (Need > 1) Folder += PathSeparator;
    Folder += std::string(Need > 1 ? std::min<size_t>(100, Need - 1) : 1, 'd');
  }
  ASSERT_EQ(Folder.size(), 244u);
  ASSERT_TRUE(std::filesystem::create_directories(Folder));
  auto Base = OpenBase(Letter('F', Folder), 0);
  ASSERT_TRUE(Base);
  tMessage M;
  FillNetmail(M);
  ASSERT_FALSE(Base->WriteMessage(100000, &M));
  std::string Small = GetFile(Folder + PathSeparator + "100000.msg");
  ASSERT_GT(Small.size(), 190u);
  M.Subject = "the big one";
  EXPECT_TRUE(Base->WriteMessage(1000000, &M));
  EXPECT_EQ(Base->Count, 100000);
  EXPECT_EQ(GetFile(Folder + PathSeparator + "100000.msg"), Small);
  EXPECT_FALSE(Base->Exists(1000000));
  EXPECT_TRUE(Base->ReadMessage(1000000, &M));
  EXPECT_TRUE(Base->DeleteMessage(1000000));
  // 100000.msg alone: "lastread.kvx" does not fit behind this folder either.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Folder), std::filesystem::directory_iterator()), 1);

  // A folder whose mask does not fit is no base, and is not made.
  std::string Longer = Folder + PathSeparator + "eeeeee";  // 251: "\*.msg" makes 257
  EXPECT_FALSE(OpenBase(Letter('F', Longer), 0));
  EXPECT_FALSE(std::filesystem::exists(Longer));
  tMsgDirBase Direct;
  EXPECT_TRUE(Direct.Open(Longer + PathSeparator + "*.msg", 0));
  EXPECT_FALSE(std::filesystem::exists(Longer));
}

TEST(MsgDirBase, ShortAndTruncatedFilesReadAsZeros) {
  tRuntimeTempDir T;
  auto Base = OpenDir(T);
  tMessage Full;
  FillNetmail(Full);
  ASSERT_FALSE(Base->WriteMessage(1, &Full));
  std::string Whole = GetFile(T / "1.msg");

  tMessage M;
  for (size_t Len = 0; Len <= Whole.size(); ++Len) {
    // Read the whole message first, so a short header that kept bytes of
    // the previous read would show them.
    ASSERT_FALSE(Base->ReadMessage(1, &M));
    PutFile(T / "2.msg", Whole.substr(0, Len));
    ASSERT_FALSE(Base->ReadMessage(2, &M)) << Len;
    EXPECT_EQ(M.State, msRead);
    if (Len < 36) {
      EXPECT_EQ(M.To, "") << Len;
    }
    if (Len < 72) {
      EXPECT_EQ(M.Subject, "") << Len;
    }
    if (Len < 187) {
      EXPECT_EQ(M.Attr & 0xFFFF, 0u) << Len;
    }
    if (Len < 189) {
      EXPECT_EQ(M.Replies[1], 0) << Len;
    }
    if (Len <= 190) {
      EXPECT_EQ(M.Text.GetSize(), 0) << Len;
    }
  }
}

TEST(MsgDirBase, FailedWritesAreReportedAndLeaveNoHalfFile) {
  tRuntimeTempDir T;
  PutFile(T / "5.msg", "old");
  auto Base = OpenDir(T);
  tMessage M;
  FillNetmail(M);

  tSpyFileSystem Spy;
  {
    tFileSystemScope Scope(Spy);
    Spy.FailWrites = true;
    EXPECT_TRUE(Base->WriteMessage(9, &M));
  }
  EXPECT_EQ(Base->Count, 5);
  EXPECT_NE(M.State, msWritten);
  EXPECT_FALSE(IsFile(T / "9.msg"));

  // A message that is there stays byte for byte when its rewrite fails.
  std::string Old = GetFile(T / "5.msg");
  {
    tFileSystemScope Scope(Spy);
    EXPECT_TRUE(Base->WriteMessage(5, &M));
  }
  EXPECT_EQ(GetFile(T / "5.msg"), Old);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(T.Path()), std::filesystem::directory_iterator()), 2)
      << "a temporary file was left behind";
  Spy.FailWrites = false;
  ASSERT_FALSE(Base->WriteMessage(5, &M));
  EXPECT_GT(GetFile(T / "5.msg").size(), 190u);

  // Opened for reading only (the mode of the netmail scan): a create turns
  // into an open of an existing file, and writing fails either way.
  auto ReadOnly = OpenDir(T, 0x3D40);
  EXPECT_TRUE(ReadOnly->WriteMessage(6, &M));
  EXPECT_FALSE(IsFile(T / "6.msg"));
  std::string Kept = GetFile(T / "5.msg");
  EXPECT_TRUE(ReadOnly->WriteMessage(5, &M));
  EXPECT_EQ(GetFile(T / "5.msg"), Kept);
  EXPECT_EQ(ReadOnly->Count, 5);
}

TEST(MsgDirBase, SetAttrBitsChangesTheWordOfTheMessageReadAndNothingElse) {
  tRuntimeTempDir T;
  const std::string Head = Header("Sysop", "Robot", "remove", "07 Dec 26  19:05:08", 463, 100, 463, 1, 0x0101);
  // Bytes no reader keeps (after the NUL, a text longer than a buffer)
  // must come through as they are.
  const std::string Old = Head + "\x01INTL 2:463/1 2:463/100\r-ECHO\r" + std::string(5000, 'x') + '\0' + "junk";
  uint8_t Read[190];
  std::copy(Head.begin(), Head.end(), Read);
  std::string New = Old;
  New[186] = static_cast<char>(0x01 | 0x04);
  for (int N : {1, 2, 3, 4}) PutFile(T / (std::to_string(N) + ".msg"), Old);
  const std::string Other = Header("Sysop", "Robot", "another", "07 Dec 26  19:05:08", 463, 100, 463, 1, 0x0101);
  PutFile(T / "2.msg", Other);
  PutFile(T / "3.msg", Head.substr(0, 189));
  auto Base = OpenDir(T, smOpenReadWrite);
  auto& Dir = dynamic_cast<tMsgDirBase&>(*Base);

  EXPECT_FALSE(Dir.SetAttrBits(1, 0x0004, Read));
  EXPECT_EQ(GetFile(T / "1.msg"), New);
  EXPECT_TRUE(Dir.SetAttrBits(2, 0x0004, Read));  // another message took the number
  EXPECT_EQ(GetFile(T / "2.msg"), Other);
  EXPECT_TRUE(Dir.SetAttrBits(3, 0x0004, Read));  // shorter than its header
  EXPECT_TRUE(Dir.SetAttrBits(9, 0x0004, Read));  // not there
  EXPECT_FALSE(IsFile(T / "9.msg"));
  // Opened only to read, a base writes nothing.
  EXPECT_TRUE(dynamic_cast<tMsgDirBase&>(*OpenDir(T, smOpenRead)).SetAttrBits(4, 0x0004, Read));
  tSpyFileSystem Spy;
  {
    tFileSystemScope Scope(Spy);
    Spy.FailWrites = true;
    EXPECT_TRUE(Dir.SetAttrBits(4, 0x0004, Read));
  }
  EXPECT_EQ(GetFile(T / "3.msg"), Head.substr(0, 189));
  EXPECT_EQ(GetFile(T / "4.msg"), Old);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(T.Path()), std::filesystem::directory_iterator()), 4)
      << "a temporary file was left behind";
}

TEST(MsgDirBase, ClosedBaseRefusesEverything) {
  tMsgDirBase Base;
  tMessage M;
  EXPECT_TRUE(Base.ReadMessage(1, &M));
  EXPECT_TRUE(Base.ReadThread(1, &M));
  EXPECT_TRUE(Base.WriteMessage(1, &M));
  EXPECT_TRUE(Base.DeleteMessage(1));
  tRuntimeTempDir T;
  auto Open = OpenDir(T);
  EXPECT_TRUE(Open->ReadMessage(1, nullptr));
  EXPECT_TRUE(Open->WriteMessage(1, nullptr));
}

TEST(MsgDirBase, LastReadFileOnlyWhereTheModeCreates) {
  tRuntimeTempDir T;
  { auto Base = OpenDir(T, 0x3D40); }
  EXPECT_FALSE(IsFile(T / "lastread.kvx"));  // the scan's mode only reads
  { auto Base = OpenDir(T, 0); }
  EXPECT_TRUE(IsFile(T / "lastread.kvx"));
  auto Base = OpenDir(T, 0x3D40);
  EXPECT_EQ(Base->Count, 0);  // the last-read file is no message
}

// Interoperation with an independent tosser: crashmail tosses packets made
// by crashwrite into a *.MSG netmail folder that we read, and exports a
// message that we wrote into a packet that we parse.
class CrashmailTest : public testing::tCrashmailTest {
 protected:
  CrashmailTest() : tCrashmailTest(false) {}
};

TEST_F(CrashmailTest, TossedNetmailReadsBack) {
  ASSERT_TRUE(Node.WriteCorpus()) << Node.Log();
  auto Base = OpenBase(Letter('F', Node / "netmail"), 0x3D40);
  ASSERT_TRUE(Base);
  int Found = 0;
  tMessage M;
  for (int32_t N = 0; N <= Base->Count; ++N) {
    if (!Base->Exists(N)) continue;
    ASSERT_FALSE(Base->ReadMessage(N, &M)) << N;
    ++Found;
    EXPECT_TRUE(testing::ExpectCorpusNetmail(M)) << M.From.View();
    if (M.From == "Hand Made") {
      // No MSGID: one is completed for readers, and marked so.
      EXPECT_EQ(OrigAddrStr(M), "2:5020/2");
      EXPECT_EQ(M.HadMsgId, 0);
      EXPECT_TRUE(M.Completed & cvMsgId);
      EXPECT_EQ(M.Pid, "hand 1");
      EXPECT_EQ(M.Flags, "DIR");
      EXPECT_EQ(M.FlagsRest, "XPVT");
    }
  }
  EXPECT_EQ(Found, 3) << Node.Log();
}

// The strings of a packed message: NUL-ended, at Pos, which moves past it.
std::string PacketString(const std::string& Pkt, size_t& Pos) {
  size_t End = Pkt.find('\0', Pos);
  if (End == std::string::npos) End = Pkt.size();
  std::string Out = Pkt.substr(Pos, End - Pos);
  Pos = End + 1;
  return Out;
}

TEST_F(CrashmailTest, OurNetmailIsExportedByCrashmail) {
  auto Base = OpenBase(Letter('F', Node / "netmail"), 0);
  ASSERT_TRUE(Base);
  tMessage M;
  M.From = "Test Sysop";
  M.To = "Ivan Petrov";
  M.Subject = "Re: hello";
  M.DateWritten = tDateTime{2026, 12, 8, 10, 11, 12};
  M.OrigZone = 2, M.OrigNet = 5020, M.OrigNode = 1, M.OrigPoint = 3;
  M.DestZone = 2, M.DestNet = 5020, M.DestNode = 2, M.DestPoint = 7;
  M.Intl = "2:5020/2 2:5020/1";
  M.MsgId = "2:5020/1.3 0badcafe";
  M.Kludges.Append("\x01" "CHRS: CP866 2");
  M.Text.WriteStr("Our body line\r");
  M.AttrFlags[0] = 1;  // Pvt
  M.AttrFlags[8] = 1;  // Loc
  // crashmail keeps 1.msg for a high-water mark and scans from 2.msg on.
  ASSERT_FALSE(Base->WriteMessage(2, &M));
  Base.reset();
  ASSERT_TRUE(Node.Scan());

  std::string Pkt;
  for (const std::string& File : Node.Files("out")) Pkt = GetFile(File);
  ASSERT_GT(Pkt.size(), 58u + 14u) << Node.Log();
  const uint8_t* P = reinterpret_cast<const uint8_t*>(Pkt.data());
  EXPECT_EQ(GetU16(P + 18), 2);  // packet type 2
  EXPECT_EQ(GetU16(P + 58), 2);  // a packed message
  EXPECT_EQ(GetU16(P + 60), 1);  // origin node
  EXPECT_EQ(GetU16(P + 62), 2);  // destination node
  EXPECT_EQ(GetU16(P + 64), 5020);
  EXPECT_EQ(GetU16(P + 66), 5020);
  size_t Pos = 58 + 14;
  EXPECT_EQ(PacketString(Pkt, Pos), "08 Dec 26  10:11:12");
  EXPECT_EQ(PacketString(Pkt, Pos), "Ivan Petrov");
  EXPECT_EQ(PacketString(Pkt, Pos), "Test Sysop");
  EXPECT_EQ(PacketString(Pkt, Pos), "Re: hello");
  std::string Text = PacketString(Pkt, Pos);
  for (const char* Line : {"\x01" "FMPT 3\r", "\x01" "TOPT 7\r", "\x01" "INTL 2:5020/2 2:5020/1\r",
                           "\x01" "MSGID: 2:5020/1.3 0badcafe\r", "\x01" "CHRS: CP866 2\r", "Our body line\r"})
    EXPECT_NE(Text.find(Line), std::string::npos) << Line;
  EXPECT_NE(Node.Log().find("at 2:5020/2.7"), std::string::npos) << Node.Log();
}

}  // namespace
}  // namespace kelvane
