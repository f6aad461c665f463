#include "msgbase/pkt.h"

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "msgbase/address.h"
#include "msgbase/baseid.h"
#include "msgbase/message.h"
#include "msgbase/test_fs.h"
#include "msgbase/test_messages.h"
#include "msgbase/test_pkt.h"
#include "runtime/coding.h"
#include "runtime/file_system.h"

namespace kelvane {
namespace {

using testing::Describe;
using testing::FillNetmail;
using testing::GetFile;
using testing::IsFile;
using testing::Letter;
using testing::PacketBytes;
using testing::PktHeaderBytes;
using testing::PutFile;
using testing::tFileSystemScope;
using testing::tFixedClock;
using testing::ThreeMessages;
using testing::tPackedMsg;
using testing::tPktAddr;
using testing::tRuntimeTempDir;

const tPktAddr Link{2, 5020, 2, 0};
const tPktAddr Us{2, 5020, 1, 0};

std::string Header() { return PktHeaderBytes(Link, Us, "pw"); }

uint16_t WordAt(const std::string& Bytes, size_t At) {
  return GetU16(reinterpret_cast<const uint8_t*>(Bytes.data()) + At);
}

std::unique_ptr<tPktBase> OpenPkt(const std::string& File, int32_t Mode = 0) {
  auto Base = std::make_unique<tPktBase>();
  EXPECT_FALSE(Base->Open(File, Mode)) << File;
  return Base;
}

// Every message of a base, described field by field.
std::vector<std::string> ReadAll(tMsgBase& Base) {
  std::vector<std::string> Out;
  for (int32_t N = 1; N <= Base.Count; ++N) {
    tMessage M;
    EXPECT_FALSE(Base.ReadMessage(N, &M)) << N;
    Out.push_back(Describe(M));
  }
  return Out;
}

// The messages of a packet made of Messages, read by the library.
std::vector<std::string> ReadPacket(const std::vector<tPackedMsg>& Messages) {
  tPktBase Base;
  Base.OpenImage(PacketBytes(Header(), Messages));
  return ReadAll(Base);
}

// A file system that fails every write from the FailFrom-th on (counting
// from 0), and the step that puts a rewritten file in place when asked.
class tFaultyDisk : public tForwardingFileSystem {
 public:
  int32_t Write(intptr_t H, const void* B, uint32_t C) override {
    if (Writes++ >= FailFrom) return -1;
    return Real().Write(H, B, C);
  }
  bool Replace(std::string_view S, std::string_view T) override { return !FailReplace && Real().Replace(S, T); }
  int Writes = 0;
  int FailFrom = INT_MAX;
  bool FailReplace = false;
};

TEST(PktBase, CreateWritesTheHeaderFromMemory) {
  tFixedClock Clock;  // 2031-05-04 03:02:01
  tRuntimeTempDir T;
  tPktBase Base;
  Base.SetOrigAddr("2:450/1.3");
  Base.SetDestAddr("1:2/3");
  Base.SetPassword("0123456789");
  ASSERT_FALSE(Base.Create(T / "a.pkt", 0));
  EXPECT_EQ(Base.Closed, cbOpen);
  EXPECT_EQ(Base.Count, 0);
  std::string F = GetFile(T / "a.pkt");
  ASSERT_EQ(F.size(), 60u);
  const std::vector<std::pair<size_t, uint16_t>> Words = {
      {0, 1},  {2, 3},   {4, 2031}, {6, 4},  {8, 4},  {10, 3}, {12, 2}, {14, 1}, {18, 2},
      {20, 450}, {22, 2}, {34, 2},  {36, 1}, {46, 2}, {48, 1}, {50, 3}, {52, 0}, {58, 0}};
  for (auto [At, Value] : Words) EXPECT_EQ(WordAt(F, At), Value) << "offset " << At;
  EXPECT_EQ(F.substr(26, 8), "01234567");
  EXPECT_EQ(Base.GetOrigAddr(), "2:450/1.3");
  EXPECT_EQ(Base.GetDestAddr(), "1:2/3");
  EXPECT_EQ(Base.GetPassword(), "01234567");

  // Addresses from text; the password never touches the zone after it.
  const std::pair<const char*, const char*> Addresses[] = {
      {"2:450/1.3", "2:450/1.3"}, {"2:450/1.0", "2:450/1"}, {"1:2/3.4@fidonet", "1:2/3"}, {"x:y/z", "0:0/0"}};
  for (auto [Text, Want] : Addresses) {
    Base.SetOrigAddr(Text);
    EXPECT_EQ(Base.GetOrigAddr(), Want) << Text;
  }
  Base.SetOrigAddr("7:1/1");
  Base.SetPassword("SECRET");
  EXPECT_EQ(Base.GetPassword(), "SECRET");
  EXPECT_EQ(Base.GetOrigAddr(), "7:1/1");

  // What another program wrote reads back from the file.
  PutFile(T / "b.pkt", PacketBytes(PktHeaderBytes({1, 2, 3, 4}, {5, 6, 7, 0}, "12345678"), {}));
  auto Read = OpenPkt(T / "b.pkt");
  EXPECT_EQ(Read->GetOrigAddr(), "1:2/3.4");
  EXPECT_EQ(Read->GetDestAddr(), "5:6/7");
  EXPECT_EQ(Read->GetPassword(), "12345678");
}

TEST(PktBase, AppendedMessagesAreThePackedLayout) {
  tFixedClock Clock;
  tRuntimeTempDir T;
  std::string File = T / "a.pkt";
  tPktBase Base;
  ASSERT_FALSE(Base.Create(File, 0));
  tMessage M;
  FillNetmail(M);
  M.From = tShortString(std::string(40, 'F'));  // cut to 35: others refuse a longer name
  M.Subject = tShortString(std::string(80, 's'));
  M.Cost = 9;
  ASSERT_FALSE(Base.WriteMessage(0, &M));
  EXPECT_EQ(M.State, msWritten);

  std::string F = GetFile(File);
  tMsgDirBase Msg;
  std::string Text = Msg.MessageImage(&M).substr(MsgHeaderSize);  // the text every FTS format writes
  Text.pop_back();  // without the *.MSG file's closing NUL: a packet closes its messages itself
  tPackedMsg Want;
  Want.From = std::string(35, 'F');
  Want.Subject = std::string(71, 's');
  Want.Date = "07 Dec 26  19:05:08";
  Want.Attr = 0x0081;  // Pvt, K/s
  Want.Cost = 9;
  Want.Text = Text;
  EXPECT_EQ(F.substr(58), testing::PackedMsgBytes(Want) + std::string(2, '\0'));
  EXPECT_EQ(Base.Offsets.Count(), 2u);
  EXPECT_EQ(Base.Offsets[0], 57);
  EXPECT_EQ(Base.Offsets[1], static_cast<int32_t>(F.size()) - 3);

  // Echomail: the area line first, no INTL, FMPT or TOPT; a body that
  // begins with LF keeps its empty first line behind it.
  tMessage E;
  E.From = "a";
  E.To = "All";
  E.Area = "FIDO.TEST";
  E.OrigPoint = 5, E.DestPoint = 6;
  E.Text.WriteStr("\nafter an empty line\n");
  ASSERT_FALSE(Base.WriteMessage(0, &E));
  tMessage R;
  ASSERT_FALSE(Base.ReadMessage(2, &R));
  EXPECT_EQ(R.Area, "FIDO.TEST");
  EXPECT_EQ(R.Text.View(), "\nafter an empty line\n");
  F = GetFile(File);
  EXPECT_NE(F.find(std::string("a\0\0AREA:FIDO.TEST\n\nafter", 24)), std::string::npos);
  EXPECT_EQ(F.find("\1FMPT"), F.rfind("\1FMPT"));  // only the netmail's

  EXPECT_EQ(OpenPkt(File)->Count, 2);
}

// Half a message behind the closing zeros, as a writer cut off between
// its two writes left it: no tosser reads it, and the next message goes
// at the closing zeros in its place, not behind it where no tosser reads.
TEST(PktBase, AnAppendGoesAtTheClosingZerosATosserStopsAt) {
  tFixedClock Clock;
  std::vector<tPackedMsg> Three = ThreeMessages();
  tRuntimeTempDir T;
  const std::string Two = PacketBytes(Header(), {Three[0], Three[1]});
  PutFile(T / "clean.pkt", Two);
  PutFile(T / "cut.pkt", Two + testing::PackedMsgBytes(Three[2]).substr(2, 40));
  for (const char* Name : {"clean.pkt", "cut.pkt"}) {
    tMessage M;
    FillNetmail(M);
    ASSERT_FALSE(OpenPkt(T / Name)->WriteMessage(0, &M));
  }
  EXPECT_EQ(GetFile(T / "cut.pkt"), GetFile(T / "clean.pkt"));
  EXPECT_EQ(OpenPkt(T / "cut.pkt")->Count, 3);
}

TEST(PktBase, ReadsHandMadePackets) {
  std::vector<tPackedMsg> Three = ThreeMessages();
  tRuntimeTempDir T;
  PutFile(T / "a.pkt", PacketBytes(Header(), Three));
  auto Base = OpenPkt(T / "a.pkt");
  ASSERT_EQ(Base->Count, 3);
  EXPECT_EQ(Base->GetOrigAddr(), "2:5020/2");
  EXPECT_EQ(Base->GetPassword(), "pw");
  std::vector<tMessage> M(4);
  for (int32_t N = 1; N <= 3; ++N) ASSERT_FALSE(Base->ReadMessage(N, &M[N])) << N;
  EXPECT_EQ(M[1].From, "Ivan Petrov");
  EXPECT_EQ(M[1].Subject, "first");
  EXPECT_EQ(M[1].MsgId, "2:5020/2 12345678");
  EXPECT_EQ(M[1].Text.View(), "Hello\r");
  EXPECT_EQ(M[1].Area, "");
  EXPECT_EQ(M[2].Area, "FIDO.TEST");
  EXPECT_EQ(M[2].Text.View(), "Echo body\r");
  EXPECT_EQ(M[2].TearLine, " tear");
  EXPECT_EQ(OrigAddrStr(M[2]), "2:5020/3");
  EXPECT_EQ(M[2].SeenByLines.Count(), 1u);
  EXPECT_EQ(M[2].PathLines.Count(), 1u);
  EXPECT_EQ(M[3].From, Three[2].From);
  EXPECT_EQ(M[3].Attr, 0x0101u);
  EXPECT_EQ(M[3].Cost, 7);
  EXPECT_EQ(DestAddrStr(M[3]), "2:5020/1.3");
  EXPECT_EQ(OrigAddrStr(M[3]), "2:5020/4");

  // The area line in any case, ended by any break; a first line that only
  // looks like one is body text.
  const struct {
    const char* Text;
    const char* Area;
    const char* Body;
  } Areas[] = {
      {"area:fido.test\rbody\r", "fido.test", "body\r"},
      {"AREA:X\r\nbody", "X", "body"},
      {"AREA:X\n\nbody\n", "X", "\nbody\n"},
      {"AREA:X", "X", ""},
      {"AREAX\rbody\r", "", "AREAX\rbody\r"},
      {" AREA:X\r", "", " AREA:X\r"},
  };
  for (const auto& C : Areas) {
    tPackedMsg P;
    P.Text = C.Text;
    tPktBase Image;
    ASSERT_FALSE(Image.OpenImage(PacketBytes(Header(), {P})));
    tMessage R;
    ASSERT_FALSE(Image.ReadMessage(1, &R));
    EXPECT_EQ(R.Area, C.Area) << C.Text;
    EXPECT_EQ(R.Text.View(), C.Body) << C.Text;
  }

}

// Deleted messages stay until the cuts are applied; then the packet is the
// one that never held them, byte for byte.
TEST(PktBase, DeletionsReachTheFileWhenTheCutsAreApplied) {
  const std::vector<std::vector<int32_t>> Cases = {{2}, {1}, {3}, {1, 3}, {3, 1, 2}, {2, 2}};
  std::vector<tPackedMsg> Three = ThreeMessages();
  std::vector<std::string> Read = ReadPacket(Three);
  for (const auto& Deleted : Cases) {
    for (bool ByDestructor : {false, true}) {
      tRuntimeTempDir T;
      std::string File = T / "a.pkt";
      PutFile(File, PacketBytes(Header(), Three));
      std::vector<tPackedMsg> Kept;
      std::set<int32_t> Gone(Deleted.begin(), Deleted.end());
      for (int32_t N = 1; N <= 3; ++N)
        if (!Gone.count(N)) Kept.push_back(Three[N - 1]);
      {
        auto Base = OpenPkt(File);
        for (int32_t N : Deleted) EXPECT_FALSE(Base->DeleteMessage(N)) << N;
        // Until then every message reads as before.
        EXPECT_EQ(Base->Count, 3);
        EXPECT_EQ(ReadAll(*Base), Read);
        EXPECT_EQ(GetFile(File), PacketBytes(Header(), Three));
        if (!ByDestructor) {
          EXPECT_FALSE(Base->ApplyCuts());
          EXPECT_EQ(Base->Count, static_cast<int32_t>(Kept.size()));
          EXPECT_TRUE(Base->PendingCuts.Empty());
        }
      }
      EXPECT_EQ(GetFile(File), PacketBytes(Header(), Kept)) << Deleted[0] << " " << ByDestructor;
      EXPECT_FALSE(IsFile(File + ".$$$"));
    }
  }
  // A message that is not there, or a packet with none, deletes nothing.
  tPktBase Image;
  Image.OpenImage(PacketBytes(Header(), Three));
  for (int32_t N : {0, 4, -1}) EXPECT_TRUE(Image.DeleteMessage(N)) << N;
  tPktBase Empty;
  Empty.OpenImage(PacketBytes(Header(), {}));
  EXPECT_TRUE(Empty.DeleteMessage(1));
  EXPECT_FALSE(Empty.ApplyCuts());
}

TEST(PktBase, WritingAnExistingNumberReplacesIt) {
  std::vector<tPackedMsg> Three = ThreeMessages();
  tRuntimeTempDir T;
  std::string File = T / "a.pkt";
  PutFile(File, PacketBytes(Header(), Three));
  auto Base = OpenPkt(File);
  ASSERT_FALSE(Base->DeleteMessage(1));  // pending, and applied with the replacement
  tMessage M;
  FillNetmail(M);
  ASSERT_FALSE(Base->WriteMessage(2, &M));
  EXPECT_EQ(Base->Count, 2);
  EXPECT_TRUE(Base->PendingCuts.Empty());
  std::vector<std::string> Now = ReadAll(*Base);
  ASSERT_EQ(Now.size(), 2u);
  EXPECT_EQ(Now[0], ReadPacket({Three[2]})[0]);
  tMessage Back;
  ASSERT_FALSE(Base->ReadMessage(2, &Back));
  EXPECT_EQ(Back.Subject, M.Subject);
  // The packet that kept only message 3, and then the new message.
  size_t Kept = 58 + testing::PackedMsgBytes(Three[2]).size();
  EXPECT_EQ(GetFile(File).substr(0, Kept), PacketBytes(Header(), {Three[2]}).substr(0, Kept));
}

// Every write that can fail is made to fail in turn: each time the
// operation says so and the packet is byte for byte as it was; once none
// fails, the result is the one wanted.
TEST(PktBase, FailedWritesLeaveThePacketAsItWas) {
  std::vector<tPackedMsg> Three = ThreeMessages();
  const std::string Original = PacketBytes(Header(), Three);
  tMessage M;
  FillNetmail(M);
  const struct {
    const char* Name;
    bool (*Run)(tPktBase&, tMessage&);
    int32_t Count;  // afterwards
  } Operations[] = {
      {"append", [](tPktBase& B, tMessage& Msg) { return B.WriteMessage(0, &Msg); }, 4},
      {"replace", [](tPktBase& B, tMessage& Msg) { return B.WriteMessage(2, &Msg); }, 3},
      {"cut", [](tPktBase& B, tMessage&) { return B.DeleteMessage(1) || B.ApplyCuts(); }, 2},
  };
  for (const auto& Op : Operations) {
    int Failures = 0;
    for (int FailFrom = 0;; ++FailFrom) {
      tRuntimeTempDir T;
      std::string File = T / "a.pkt";
      PutFile(File, Original);
      tFaultyDisk Disk;
      tFileSystemScope Scope(Disk);
      auto Base = OpenPkt(File);
      std::vector<std::string> Before = ReadAll(*Base);
      Disk.FailFrom = Disk.Writes + FailFrom;
      bool Failed = Op.Run(*Base, M);
      Disk.FailFrom = INT_MAX;
      if (Failed) {
        ++Failures;
        EXPECT_EQ(GetFile(File), Original) << Op.Name << " failing from write " << FailFrom;
        EXPECT_EQ(Base->Count, 3) << Op.Name;
        EXPECT_EQ(ReadAll(*Base), Before) << Op.Name;
        EXPECT_FALSE(IsFile(File + ".$$$"));
        // A replacement that failed leaves no deletion behind.
        if (std::string(Op.Name) == "replace") {
          EXPECT_TRUE(Base->PendingCuts.Empty());
        }
        ASSERT_LT(FailFrom, 1000);
        continue;
      }
      EXPECT_EQ(Base->Count, Op.Count) << Op.Name;
      Base.reset();
      EXPECT_EQ(OpenPkt(File)->Count, Op.Count) << Op.Name;
      break;
    }
    EXPECT_GE(Failures, 1) << Op.Name;
  }

  // The rewritten packet cannot take the old one's place: the cuts stay
  // pending, and go once it can.
  tRuntimeTempDir T;
  std::string File = T / "a.pkt";
  PutFile(File, Original);
  auto Base = OpenPkt(File);
  ASSERT_FALSE(Base->DeleteMessage(2));
  tFaultyDisk Disk;
  Disk.FailReplace = true;
  {
    tFileSystemScope Scope(Disk);
    EXPECT_TRUE(Base->ApplyCuts());
  }
  EXPECT_EQ(GetFile(File), Original);
  EXPECT_EQ(Base->PendingCuts.Count(), 1u);
  EXPECT_EQ(Base->Count, 3);
  EXPECT_FALSE(Base->ApplyCuts());
  EXPECT_EQ(GetFile(File), PacketBytes(Header(), {Three[0], Three[2]}));
}

// A base opened for reading only (the tools' mode), and files that are no
// type-2 packet, are never written: not by a write, a deletion, nor the
// create that OpenBase tries when the open failed.
TEST(PktBase, WhatMayNotBeWrittenStaysAsItWas) {
  tRuntimeTempDir T;
  const std::string Packet = PacketBytes(Header(), ThreeMessages());
  const std::string Files[][2] = {
      {"good.pkt", Packet},
      {"type3.pkt", PacketBytes(PktHeaderBytes(Link, Us, "", 3), ThreeMessages())},
      {"short.pkt", Packet.substr(0, 30)},
  };
  for (const auto& [Name, Bytes] : Files) PutFile(T / Name, Bytes);
  tMessage M;
  FillNetmail(M);
  auto ReadOnly = OpenBase(Letter('P', T / "good.pkt"), smOpenRead);
  ASSERT_TRUE(ReadOnly);
  EXPECT_EQ(ReadOnly->Count, 3);
  EXPECT_TRUE(ReadOnly->WriteMessage(0, &M));
  EXPECT_TRUE(ReadOnly->WriteMessage(2, &M));
  EXPECT_TRUE(ReadOnly->DeleteMessage(2));
  ReadOnly.reset();
  for (int32_t Mode : {int32_t{smOpenRead}, 0}) {
    EXPECT_FALSE(OpenBase(Letter('P', T / "type3.pkt"), Mode)) << Mode;
    EXPECT_FALSE(OpenBase(Letter('P', T / "missing.pkt"), smOpenRead));
  }
  auto Short = OpenBase(Letter('P', T / "short.pkt"), 0);  // an empty packet to read
  ASSERT_TRUE(Short);
  EXPECT_EQ(Short->Count, 0);
  EXPECT_TRUE(Short->WriteMessage(0, &M));
  EXPECT_TRUE(Short->Create(T / "short.pkt", 0));
  Short.reset();
  for (const auto& [Name, Bytes] : Files) EXPECT_EQ(GetFile(T / Name), Bytes) << Name;
  EXPECT_FALSE(IsFile(T / "missing.pkt"));

  // A bare path names a packet by its extension; a missing one is created
  // empty, and DeleteBase removes it.
  auto New = OpenBase(T / "new.pkt", 0);
  ASSERT_TRUE(New);
  EXPECT_NE(dynamic_cast<tPktBase*>(New.get()), nullptr);
  New.reset();
  EXPECT_EQ(GetFile(T / "new.pkt").size(), 60u);
  EXPECT_FALSE(DeleteBase(T / "new.pkt"));
  EXPECT_FALSE(IsFile(T / "new.pkt"));
}

// Damaged packets open and read what is there: cut at every length, with
// no closing zeros, with strings that lack their NULs, or with a message of
// another type in the middle. A message written into any of them reads
// back, and so do the whole messages before it.
TEST(PktBase, DamagedPacketsReadWhatIsThere) {
  std::vector<tPackedMsg> Three = ThreeMessages();
  const std::string Full = PacketBytes(Header(), Three);
  std::vector<std::string> Whole = ReadPacket(Three);
  std::vector<size_t> Ends;  // where each message's text NUL lies
  for (size_t At = 58; const tPackedMsg& P : Three) Ends.push_back((At += testing::PackedMsgBytes(P).size()) - 1);
  tMessage Extra;
  FillNetmail(Extra);
  tPktBase Probe;
  Probe.OpenImage(PacketBytes(Header(), {}));
  ASSERT_FALSE(Probe.WriteMessage(0, &Extra));
  tMessage ExtraBack;
  ASSERT_FALSE(Probe.ReadMessage(1, &ExtraBack));

  for (size_t Length = 0; Length <= Full.size(); ++Length) {
    tPktBase Base;
    ASSERT_FALSE(Base.OpenImage(Full.substr(0, Length))) << Length;
    std::vector<std::string> Got = ReadAll(Base);
    size_t WholeCount = 0;
    while (WholeCount < 3 && Ends[WholeCount] < Length) ++WholeCount;
    ASSERT_GE(Got.size(), WholeCount) << Length;
    ASSERT_LE(Got.size(), 3u) << Length;
    for (size_t K = 0; K < WholeCount; ++K) EXPECT_EQ(Got[K], Whole[K]) << "message " << K + 1 << " of " << Length;
    if (Length < 60) continue;  // no whole header: nothing is written
    int32_t Before = Base.Count;
    ASSERT_FALSE(Base.WriteMessage(0, &Extra)) << Length;
    tPktBase Again;
    Again.OpenImage(static_cast<tMemoryStream&>(*Base.DataStream).View());
    ASSERT_EQ(Again.Count, Before + 1) << Length;
    std::vector<std::string> After = ReadAll(Again);
    for (size_t K = 0; K < WholeCount; ++K) EXPECT_EQ(After[K], Whole[K]) << "message " << K + 1 << " of " << Length;
    EXPECT_EQ(After.back(), Describe(ExtraBack)) << Length;
  }

  // Strings and texts without their NUL run into what follows; the other
  // messages read as they are.
  for (size_t Nul = Full.find('\0', 58 + 34); Nul <= Ends[0]; Nul = Full.find('\0', Nul + 1)) {
    std::string Bytes = Full;
    Bytes[Nul] = 'X';
    tPktBase Base;
    ASSERT_FALSE(Base.OpenImage(Bytes));
    std::vector<std::string> Got = ReadAll(Base);
    ASSERT_GE(Got.size(), 2u);
    EXPECT_EQ(Got.back(), Whole[2]) << Nul;
  }
  // A message of another type is taken for the rest of the one before.
  std::vector<tPackedMsg> Typed = Three;
  Typed[1].Type = 3;
  std::vector<std::string> Got = ReadPacket(Typed);
  EXPECT_EQ(Got, (std::vector<std::string>{Whole[0], Whole[2]}));
  // A packet type other than 2 is refused.
  tPktBase Other;
  EXPECT_TRUE(Other.OpenImage(PacketBytes(PktHeaderBytes(Link, Us, "", 1), Three)));
  EXPECT_EQ(Other.Closed, cbFailed);
}

// Ten thousand messages of the kinds other software stores go into one
// packet and come out as they went in; written again from what was read,
// the packet is the same byte for byte.
TEST(PktBase, TenThousandMessagesComeOutAsTheyWentIn) {
  tFixedClock Clock;
  testing::tRng R(20261209);
  tRuntimeTempDir T;
  tMsgDirBase Reader;
  std::vector<std::string> Written;
  {
    tPktBase Base;
    ASSERT_FALSE(Base.Create(T / "a.pkt", 0));
    for (int N = 1; N <= 10000; ++N) {
      tMessage M;
      Reader.ReadImage(testing::GeneratedMessage(R), &M);
      // What a packet does not carry; echomail gets an area line.
      M.TimesRead = 0;
      M.Replies[1] = 0;
      if (!M.PathLines.Empty()) M.Area = tShortString("AREA." + std::to_string(N % 7));
      ASSERT_FALSE(Base.WriteMessage(0, &M)) << N;
      Written.push_back(Describe(M));
    }
  }
  auto Base = OpenPkt(T / "a.pkt");
  ASSERT_EQ(Base->Count, 10000);
  tPktBase Copy;
  ASSERT_FALSE(Copy.Create(T / "b.pkt", 0));
  int Failures = 0;
  for (int32_t N = 1; N <= 10000 && Failures < 5; ++N) {
    tMessage M;
    ASSERT_FALSE(Base->ReadMessage(N, &M));
    if (Describe(M) != Written[N - 1]) {
      ++Failures;
      EXPECT_EQ(Describe(M), Written[N - 1]) << "message " << N;
    }
    ASSERT_FALSE(Copy.WriteMessage(0, &M));
  }
  EXPECT_TRUE(GetFile(T / "a.pkt") == GetFile(T / "b.pkt"));
}

}  // namespace
}  // namespace kelvane
