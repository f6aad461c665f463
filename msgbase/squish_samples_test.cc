// Squish bases from elsewhere: the bases of an independent implementation
// in tests/data/squish read as its own read-back (the *.dump.txt files)
// says, copy faithfully and take our writes; damaged bases (cut at every
// length, wrong identifiers, offsets and lengths beyond the file, chains
// that loop) open or fail cleanly and never read past what is there.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "msgbase/address.h"
#include "msgbase/fts_writer.h"
#include "msgbase/message.h"
#include "msgbase/squish.h"
#include "msgbase/squish_test_util.h"
#include "msgbase/test_fs.h"
#include "msgbase/test_messages.h"
#include "runtime/coding.h"

namespace kelvane {
namespace {

using testing::UnescapeDump;

using namespace testing;

const std::string Samples = KELVANE_SQUISH_SAMPLES;

// One message as the dump shows it.
struct tDumped {
  int32_t Number = 0;
  uint32_t Uid = 0, Attr = 0;
  std::string From, To, Subject, Orig, Dest, Date, Written, Arrived, Ctrl, Text;
  uint32_t ReplyTo = 0, Replies[9] = {};
};

std::vector<tDumped> ReadDump(const std::string& File) {
  std::vector<tDumped> Out;
  std::istringstream In(GetFile(File));
  std::string Line;
  auto After = [&Line](const char* Prefix) { return Line.substr(std::string(Prefix).size()); };
  while (std::getline(In, Line)) {
    if (Line.rfind("msg ", 0) == 0) {
      Out.emplace_back();
      std::sscanf(Line.c_str(), "msg %d uid %u attr %x", &Out.back().Number, &Out.back().Uid, &Out.back().Attr);
      continue;
    }
    if (Out.empty()) continue;
    tDumped& D = Out.back();
    if (Line.rfind(" from ", 0) == 0) D.From = UnescapeDump(After(" from "));
    if (Line.rfind(" to ", 0) == 0) D.To = UnescapeDump(After(" to "));
    if (Line.rfind(" subj ", 0) == 0) D.Subject = UnescapeDump(After(" subj "));
    if (Line.rfind(" ctrl ", 0) == 0) D.Ctrl = UnescapeDump(After(" ctrl "));
    if (Line.rfind(" text ", 0) == 0) D.Text = UnescapeDump(After(" text "));
    if (Line.rfind(" orig ", 0) == 0) {
      size_t At = Line.find(" dest ");
      D.Orig = Line.substr(6, At - 6), D.Dest = Line.substr(At + 6);
    }
    if (Line.rfind(" date ", 0) == 0) {
      size_t W = Line.find(" written "), A = Line.find(" arrived ");
      D.Date = Line.substr(6, W - 6), D.Written = Line.substr(W + 9, A - W - 9), D.Arrived = Line.substr(A + 9);
    }
    if (Line.rfind(" replyto ", 0) == 0) {
      uint32_t* R = D.Replies;
      std::sscanf(Line.c_str(), " replyto %u replies %u %u %u %u %u %u %u %u %u", &D.ReplyTo, R, R + 1, R + 2, R + 3,
                  R + 4, R + 5, R + 6, R + 7, R + 8);
    }
  }
  return Out;
}

std::string Stamp(const tDateTime& T) {
  char Buf[40];
  std::snprintf(Buf, sizeof Buf, "%04d-%02d-%02d %02d:%02d:%02d", static_cast<int>(T.Year), static_cast<int>(T.Month),
                static_cast<int>(T.Day), static_cast<int>(T.Hour), static_cast<int>(T.Min), static_cast<int>(T.Sec));
  return Buf;
}

std::string FullAddr(uint16_t Zone, uint16_t Net, uint16_t Node, uint16_t Point) {
  return AddrStr(Zone, Net, Node, 0).ToStdString() + "." + std::to_string(Point);
}

// The kludges of a control information, one per piece between SOH bytes,
// sorted: the writer puts the ones it knows by name in an order of its own.
std::vector<std::string> Pieces(std::string_view Ctrl) {
  std::vector<std::string> Out;
  std::string Piece;
  for (char C : Ctrl) {
    if (C == '\x01' || C == '\0') {
      if (!Piece.empty()) Out.push_back(Piece);
      Piece.clear();
      if (C == '\0') break;
    } else {
      Piece += C;
    }
  }
  if (!Piece.empty()) Out.push_back(Piece);
  std::sort(Out.begin(), Out.end());
  return Out;
}

// The control information a message writes, without the FMPT and TOPT
// lines, which repeat the points of the header.
std::vector<std::string> WrittenPieces(const tMessage& M) {
  tMemoryStream S;
  WriteKludgeLines(S, M, ksControlInfo);
  std::vector<std::string> Out = Pieces(S.View());
  std::erase_if(Out, [](const std::string& P) { return P.rfind("FMPT ", 0) == 0 || P.rfind("TOPT ", 0) == 0; });
  return Out;
}

std::string WrittenText(const tMessage& M) {
  tMemoryStream S;
  WriteBodyAndTail(S, M, tpAll);
  return std::string(S.View());
}

// A copy of a sample base in a temporary folder, to be written into.
std::string CopySample(const tRuntimeTempDir& T, const std::string& Name) {
  for (const char* Ext : {".sqd", ".sqi"}) {
    PutFile(T / (Name + Ext), GetFile(Samples + "/" + Name + Ext));
  }
  return T / Name;
}

TEST(SquishSamples, EveryMessageReadsAsTheDumpSays) {
  tRuntimeTempDir T;
  auto B = OpenSquish(CopySample(T, "net"), 0x3D40);
  ASSERT_TRUE(B);
  std::vector<tDumped> Dump = ReadDump(Samples + "/net.dump.txt");
  ASSERT_EQ(Dump.size(), 45u);
  EXPECT_EQ(B->Count, 45) << "the header's count, not the 60 records of the index";
  std::map<uint32_t, int32_t> NumberOf;  // from the dump, not from our index
  for (const tDumped& D : Dump) NumberOf[D.Uid] = D.Number;
  auto Linked = [&NumberOf](uint32_t Uid) { return NumberOf.count(Uid) ? NumberOf[Uid] : 0; };
  tMessage M;
  for (const tDumped& D : Dump) {
    SCOPED_TRACE("message " + std::to_string(D.Number));
    ASSERT_FALSE(B->ReadMessage(D.Number, &M));
    EXPECT_EQ(M.MsgNum, D.Uid);
    EXPECT_EQ(M.Attr | maHigh17, D.Attr);
    EXPECT_EQ(M.From, D.From);
    EXPECT_EQ(M.To, D.To);
    EXPECT_EQ(M.Subject, D.Subject);
    EXPECT_EQ(FullAddr(M.OrigZone, M.OrigNet, M.OrigNode, M.OrigPoint), D.Orig);
    EXPECT_EQ(FullAddr(M.DestZone, M.DestNet, M.DestNode, M.DestPoint), D.Dest);
    EXPECT_EQ(M.DateStr, D.Date);
    EXPECT_EQ(Stamp(M.DateWritten), D.Written);
    EXPECT_EQ(Stamp(M.DateArrived), D.Arrived);
    EXPECT_EQ(static_cast<uint32_t>(M.ReplyTo), D.ReplyTo);
    for (int I = 0; I < 9; ++I) EXPECT_EQ(static_cast<uint32_t>(M.Replies[I + 1]), D.Replies[I]);
    EXPECT_EQ(B->GetReplyTo(D.Number), Linked(D.ReplyTo));
    EXPECT_EQ(B->GetReply1st(D.Number), Linked(D.Replies[0]));
    EXPECT_EQ(WrittenPieces(M), Pieces(D.Ctrl));
    EXPECT_EQ(WrittenText(M), D.Text);
    // The other implementation sets the top bit for received messages.
    EXPECT_EQ(B->HashOf(D.Number) & 0x7FFFFFFF, SquishHash(D.To));
    EXPECT_EQ(B->HashOf(D.Number) >> 31, M.HasAttr(maReceived) ? 1u : 0u);
  }
  EXPECT_TRUE(B->ReadMessage(46, &M));

  for (const char* Name : {"one", "empty"}) {
    auto Other = OpenSquish(CopySample(T, Name), 0x3D40);
    ASSERT_TRUE(Other) << Name;
    EXPECT_EQ(Other->Count, 0) << Name;
    EXPECT_EQ(ReadDump(Samples + "/" + Name + (Name[0] == 'o' ? "-killed" : "") + ".dump.txt").size(), 0u);
  }
}

TEST(SquishSamples, CopiesComeOutAsTheyWentInAndTheBasesTakeOurWrites) {
  tRuntimeTempDir T;
  auto Net = OpenSquish(CopySample(T, "net"));
  auto Copy = OpenSquish(T / "copy");
  ASSERT_TRUE(Net && Copy);
  tMessage First, Second;
  for (int32_t N = 1; N <= Net->Count; ++N) {
    ASSERT_FALSE(Net->ReadMessage(N, &First));
    std::string Before = Describe(First);
    ASSERT_FALSE(Copy->WriteMessage(N, &First));
    ASSERT_FALSE(Copy->ReadMessage(N, &Second));
    EXPECT_EQ(Describe(Second), Before) << N;
  }
  EXPECT_EQ(SquishFileProblems(T / "copy"), "");

  // Into the foreign bases: an append takes the header's next UMSGID and
  // lands past the records beyond the count; deletes and replacements
  // keep every other message readable.
  FillNumbered(First, 1);
  ASSERT_FALSE(Net->WriteMessage(Net->Count + 1, &First));
  EXPECT_EQ(Net->UmsgIdOf(46), 61u);
  ASSERT_FALSE(Net->DeleteMessage(10));
  ASSERT_FALSE(Net->WriteMessage(20, &First));
  Net.reset();
  Net = OpenSquish(T / "net");
  ASSERT_EQ(Net->Count, 45);
  for (int32_t N = 1; N <= Net->Count; ++N) ASSERT_FALSE(Net->ReadMessage(N, &Second)) << N;
  EXPECT_EQ(Second.Subject, "Subject 1");
  auto One = OpenSquish(CopySample(T, "one"));
  ASSERT_FALSE(One->WriteMessage(1, &First));
  EXPECT_EQ(GetFile(T / "one.sqi").size(), 12u);
  EXPECT_EQ(SquishFileProblems(T / "one"), "");
}

// A base of three messages in memory, for damaging.
struct tImage {
  std::string Data, Index;
};
tImage SmallBase() {
  tRuntimeTempDir T;
  {
    auto B = OpenSquish(T / "b");
    tMessage M;
    for (int I = 1; I <= 3; ++I) {
      FillNumbered(M, I, 60);
      B->WriteMessage(I, &M);
    }
  }
  return {GetFile(T / "b.sqd"), GetFile(T / "b.sqi")};
}

// Opens the image and reads, links, writes and deletes all over it; the
// count of messages that read.
int Exercise(const tImage& I, bool Change = true) {
  auto Data = std::make_unique<tMemoryStream>(), Index = std::make_unique<tMemoryStream>();
  Data->WriteStr(I.Data);
  Index->WriteStr(I.Index);
  tSquishBase B;
  if (B.OpenStreams(std::move(Data), std::move(Index))) return -1;
  int Read = 0;
  tMessage M;
  for (int32_t N = 0; N <= B.Count + 1; ++N) {
    Read += !B.ReadMessage(N, &M);
    B.ReadHeader(N, &M);
    B.GetReplyTo(N), B.GetReply1st(N), B.GetReplyNext(N);
  }
  if (Change) {
    B.LinkReply(1, 2);
    B.MarkRead(2);
    FillNumbered(M, 5);
    B.WriteMessage(2, &M);
    B.DeleteMessage(1);
    B.WriteMessage(B.Count + 1, &M);
    for (int32_t N = 1; N <= B.Count; ++N) B.ReadMessage(N, &M);
  }
  return Read;
}

TEST(SquishDamaged, CutAtEveryLengthOpensOrFailsCleanly) {
  tImage Whole = SmallBase();
  EXPECT_EQ(Exercise(Whole, false), 3);
  for (size_t L = 0; L < Whole.Data.size(); ++L) {
    tImage Cut{Whole.Data.substr(0, L), Whole.Index};
    int Read = Exercise(Cut);
    EXPECT_TRUE(L < SqBaseSize ? Read == -1 : Read <= 3) << L << ": " << Read;
  }
  for (size_t L = 0; L <= Whole.Index.size(); ++L) {
    tImage Cut{Whole.Data, Whole.Index.substr(0, L)};
    EXPECT_EQ(Exercise(Cut, false), static_cast<int>(L / SqIdxSize)) << L;
    Exercise(Cut);
  }
}

TEST(SquishDamaged, WrongFieldsFailTheirMessageOnly) {
  tImage Whole = SmallBase();
  uint32_t F1 = U32At(Whole.Index, 0), F2 = U32At(Whole.Index, 12);
  auto Put = [](std::string& S, size_t At, uint32_t V) {
    if (At + 4 <= S.size()) PutU32(reinterpret_cast<uint8_t*>(S.data()) + At, V);
  };
  struct tCase {
    const char* Name;
    bool InIndex;
    size_t At;
    uint32_t Value;
    int Reads;
  } Cases[] = {
      {"frame identifier", false, F2 + sfId, 0x12345678, 2},
      {"frame offset past the end", true, 12 + siFrame, 0x7FFFFFF0, 2},
      {"frame offset inside the header", true, 12 + siFrame, 8, 2},
      {"frame offset of all ones", true, 12 + siFrame, 0xFFFFFFFF, 2},
      {"absurd message length", false, F2 + sfMsgLength, 0xFFFFFFFF, 3},
      {"absurd control length", false, F2 + sfCtrlLength, 0xFFFFFFFF, 3},
      {"message length below the header", false, F2 + sfMsgLength, 3, 3},
      {"count beyond the index", false, sbNumMsg, 0x7FFFFFFF, 3},
      {"chain that loops", false, F1 + sfNext, F1, 3},
      {"chain that loops back", false, F2 + sfPrev, F2, 3},
      {"free chain into a message", false, sbFirstFree, F1, 3},
      {"free chain past the end", false, sbLastFree, 0xFFFFFF00, 3},
      {"end of file before the frames", false, sbEndFrame, 256, 3},
  };
  for (const tCase& C : Cases) {
    tImage Bad = Whole;
    Put(C.InIndex ? Bad.Index : Bad.Data, C.At, C.Value);
    EXPECT_EQ(Exercise(Bad, false), C.Reads) << C.Name;
    Exercise(Bad);
  }
}

}  // namespace
}  // namespace kelvane
