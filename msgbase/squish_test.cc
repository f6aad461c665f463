// Squish bases as we write them: the bytes of a created base, of appends
// and deletes (index records, frame chain, free chain), the recipient hash,
// the read flag, reply links by UMSGID, round trips of messages with every
// field, ten thousand messages, and writes that fail part-way.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "msgbase/baseid.h"
#include "msgbase/message.h"
#include "msgbase/squish.h"
#include "msgbase/squish_test_util.h"
#include "msgbase/test_fs.h"
#include "msgbase/test_messages.h"

namespace kelvane {
namespace {

using namespace testing;

class SquishTest : public ::testing::Test {
 protected:
  std::string Base() const { return T / "area"; }
  std::string Data() const { return GetFile(T / "area.sqd"); }
  std::string Index() const { return GetFile(T / "area.sqi"); }
  // Appends messages numbered From..To to the open base B.
  void Append(tSquishBase& B, int From, int To) {
    tMessage M;
    for (int I = From; I <= To; ++I) {
      FillNumbered(M, I);
      ASSERT_FALSE(B.WriteMessage(B.Count + 1, &M)) << I;
    }
  }
  // The subjects of the base, in message order.
  static std::vector<std::string> Subjects(tSquishBase& B) {
    std::vector<std::string> Out;
    tMessage M;
    for (int32_t N = 1; N <= B.Count; ++N)
      Out.push_back(B.ReadMessage(N, &M) ? "(unreadable)" : M.Subject.ToStdString());
    return Out;
  }
  tRuntimeTempDir T;
};

TEST_F(SquishTest, CreatedBaseIsItsHeaderAndAnEmptyIndex) {
  auto B = OpenSquish(Base());
  ASSERT_TRUE(B);
  EXPECT_EQ(B->Count, 0);
  std::string D = Data();
  ASSERT_EQ(D.size(), 256u);
  struct { uint32_t Offset, Width, Value; } Fields[] = {
      {sbLength, 2, 256},     {sbNumMsg, 4, 0},     {sbHighMsg, 4, 0},  {sbHighWater, 4, 1}, {sbNextUid, 4, 2},
      {sbFirstFrame, 4, 256}, {sbLastFrame, 4, 0},  {sbFirstFree, 4, 0}, {sbLastFree, 4, 0}, {sbEndFrame, 4, 256},
      {sbFrameSize, 2, 28},
  };
  std::string Expected(256, '\0');
  for (const auto& F : Fields) {
    EXPECT_EQ(F.Width == 2 ? U16At(D, F.Offset) : U32At(D, F.Offset), F.Value) << "offset " << F.Offset;
    Expected[F.Offset] = static_cast<char>(F.Value & 0xFF);
    Expected[F.Offset + 1] = static_cast<char>(F.Value >> 8);
  }
  EXPECT_EQ(D, Expected) << "every other byte is zero";
  EXPECT_EQ(Index(), "");
  EXPECT_TRUE(IsFile(T / "area.sql"));
  EXPECT_EQ(SquishFileProblems(Base()), "");
}

TEST_F(SquishTest, CreateNeverEmptiesFilesThatAreThere) {
  // A data file without its index does not open; the factory's create
  // must not wipe it.
  PutFile(T / "area.sqd", "precious bytes");
  EXPECT_FALSE(OpenSquish(Base()));
  EXPECT_EQ(Data(), "precious bytes");
  EXPECT_FALSE(IsFile(T / "area.sqi") || IsFile(T / "area.sql"));
  // Opened for reading only (as kelvutil and the scan open), a missing
  // base is not made.
  EXPECT_FALSE(OpenSquish(T / "other", 0x3D40));
  EXPECT_FALSE(IsFile(T / "other.sqd") || IsFile(T / "other.sqi") || IsFile(T / "other.sql"));
  // Every identifier of a Squish base opens it.
  OpenSquish(T / "new").reset();
  for (std::string Id : {Letter('S', T / "new"), Letter('$', T / "new"), T / "new.sqd", T / "NEW.SQI"}) {
    auto Opened = OpenBase(Id, 0x3D40);
    EXPECT_TRUE(Opened && dynamic_cast<tSquishBase*>(Opened.get())) << Id;
  }
}

TEST_F(SquishTest, AReceivedMessageSetsTheTopBitOfItsHash) {
  auto B = OpenSquish(Base());
  tMessage M;
  FillNumbered(M, 1);
  M.SetAttr(true, maReceived);
  ASSERT_FALSE(B->WriteMessage(1, &M));
  const uint32_t First = SquishHash(M.To);
  FillNumbered(M, 2);
  ASSERT_FALSE(B->WriteMessage(2, &M));
  EXPECT_EQ(U32At(Index(), 8), First | 0x80000000u);
  EXPECT_EQ(U32At(Index(), 12 + 8), SquishHash(M.To));
}

TEST_F(SquishTest, AppendsGoToTheEndAndJoinTheChain) {
  auto B = OpenSquish(Base());
  Append(*B, 1, 1);
  std::string D = Data(), I = Index();
  EXPECT_EQ(U32At(D, 256 + sfId), SqFrameId);
  EXPECT_EQ(U32At(D, 256 + sfPrev), 0u);
  EXPECT_EQ(U32At(D, 256 + sfNext), 0u);
  EXPECT_EQ(U32At(D, 256 + sfLength), D.size() - 256 - SqFrameSize);
  ASSERT_EQ(I.size(), 12u);
  EXPECT_EQ(U32At(I, 0), 256u);
  EXPECT_EQ(U32At(I, 4), 2u) << "the first UMSGID of a created base";
  EXPECT_EQ(U32At(I, 8), SquishHash("Sergey Ivanov"));
  EXPECT_EQ(U32At(D, sbFirstFrame), 256u);
  EXPECT_EQ(U32At(D, sbLastFrame), 256u);
  EXPECT_EQ(U32At(D, sbNextUid), 3u);
  EXPECT_EQ(U32At(D, sbNumMsg), 1u);
  EXPECT_EQ(U32At(D, sbHighWater), 2u);

  Append(*B, 2, 2);
  D = Data(), I = Index();
  uint32_t Second = U32At(I, 12);
  EXPECT_EQ(Second, U32At(D, 256 + sfLength) + 256 + SqFrameSize);
  EXPECT_EQ(U32At(D, 256 + sfNext), Second);
  EXPECT_EQ(U32At(D, Second + sfPrev), 256u);
  EXPECT_EQ(U32At(D, sbLastFrame), Second);
  EXPECT_EQ(U32At(I, 16), 3u);

  // Beyond Count + 1 is an append.
  tMessage M;
  FillNumbered(M, 3);
  ASSERT_FALSE(B->WriteMessage(5, &M));
  EXPECT_EQ(B->Count, 3);
  EXPECT_EQ(B->UmsgIdOf(3), 4u);
  EXPECT_TRUE(B->WriteMessage(0, &M) && B->WriteMessage(-1, &M));
  EXPECT_EQ(SquishFileProblems(Base()), "");
}

TEST_F(SquishTest, DeletesMoveFramesToTheFreeChain) {
  auto B = OpenSquish(Base());
  Append(*B, 1, 1);
  ASSERT_FALSE(B->DeleteMessage(1));
  std::string D = Data();
  EXPECT_EQ(U32At(D, sbFirstFrame), 0u);
  EXPECT_EQ(U32At(D, sbLastFrame), 0u);
  EXPECT_EQ(U32At(D, sbFirstFree), 256u);
  EXPECT_EQ(U32At(D, sbLastFree), 256u);
  EXPECT_EQ(U16At(D, 256 + sfType), sqFreeFrame);
  EXPECT_EQ(Index(), "");
  EXPECT_EQ(B->Count, 0);
  EXPECT_TRUE(B->DeleteMessage(1));

  Append(*B, 2, 5);  // frames F2..F5 after the free one
  std::string Before = Index();
  ASSERT_FALSE(B->DeleteMessage(2));
  EXPECT_EQ(Index(), Before.substr(0, 12) + Before.substr(24)) << "exactly bytes 12 to 23 go";
  D = Data();
  uint32_t F2 = U32At(Before, 0), F3 = U32At(Before, 12), F4 = U32At(Before, 24);
  EXPECT_EQ(U32At(D, F2 + sfNext), F4);
  EXPECT_EQ(U32At(D, F4 + sfPrev), F2);
  EXPECT_EQ(U32At(D, sbLastFree), F3) << "appended after the last free frame";
  EXPECT_EQ(U32At(D, 256 + sfNext), F3);
  EXPECT_EQ(Subjects(*B), (std::vector<std::string>{"Subject 2", "Subject 4", "Subject 5"}));
  EXPECT_EQ(SquishFileProblems(Base()), "");

  // A frame before the first free one becomes the first.
  auto C = OpenSquish(T / "other");
  Append(*C, 1, 2);
  uint32_t G1 = C->FrameOffset(1), G2 = C->FrameOffset(2);
  ASSERT_FALSE(C->DeleteMessage(2));
  ASSERT_FALSE(C->DeleteMessage(1));
  std::string O = GetFile(T / "other.sqd");
  EXPECT_EQ(U32At(O, sbFirstFree), G1);
  EXPECT_EQ(U32At(O, sbLastFree), G2);
  EXPECT_EQ(U32At(O, G1 + sfNext), G2);
  EXPECT_EQ(U32At(O, G2 + sfPrev), G1);
  EXPECT_EQ(SquishFileProblems(T / "other"), "");
}

TEST_F(SquishTest, TheHashFoldsLatinLettersOnly) {
  struct { const char* Name; uint32_t Hash; } Cases[] = {
      {"", 0},
      {"abc", 0x6783},
      {"ABC", 0x6783},
      {"\x80\x81", (0x80u << 4) + 0x81},  // Cyrillic capitals stay: other programs keep them
      {"\xF0", 0xF0},
      {"YZ", (0x79u << 4) + 0x7A},  // the whole alphabet folds, Z too
      {"@[", (0x40u << 4) + 0x5B},  // its neighbours do not
  };
  for (const auto& C : Cases) EXPECT_EQ(SquishHash(C.Name), C.Hash) << C.Name;
}

TEST_F(SquishTest, TheReadFlagFollowsTimesRead) {
  auto B = OpenSquish(Base());
  tMessage M;
  for (uint16_t Times : {0, 1, 256}) {
    FillNumbered(M, Times);
    M.TimesRead = Times;
    ASSERT_FALSE(B->WriteMessage(B->Count + 1, &M));
    std::string D = Data();
    bool Bit = U32At(D, B->FrameOffset(B->Count) + SqFrameSize + sxAttr) & SqReadBit;
    EXPECT_EQ(Bit, Times != 0) << Times;
    ASSERT_FALSE(B->ReadMessage(B->Count, &M));
    EXPECT_EQ(M.TimesRead, Times ? 1 : 0);
  }
  B->MarkRead(1);
  ASSERT_FALSE(B->ReadMessage(1, &M));
  EXPECT_EQ(M.TimesRead, 1);
}

TEST_F(SquishTest, LinksStoreUmsgIdsAndGiveMessageNumbers) {
  auto B = OpenSquish(Base());
  Append(*B, 1, 6);
  ASSERT_FALSE(B->DeleteMessage(1));  // UMSGIDs 3..7 for messages 1..5
  B->LinkReply(1, 3);
  B->LinkReply(1, 4);
  B->LinkReply(1, 3);  // once only
  tMessage M;
  ASSERT_FALSE(B->ReadMessage(1, &M));
  EXPECT_EQ(M.Replies[1], 5);
  EXPECT_EQ(M.Replies[2], 6);
  EXPECT_EQ(M.Replies[3], 0);
  ASSERT_FALSE(B->ReadMessage(3, &M));
  EXPECT_EQ(M.ReplyTo, 3);
  EXPECT_EQ(B->GetReplyTo(3), 1);
  EXPECT_EQ(B->GetReply1st(1), 3);
  EXPECT_EQ(B->GetReplyNext(1), 4);
  EXPECT_EQ(B->GetReplyTo(1), 0);
  // A setter takes effect at once, and 0 clears.
  B->SetReplyTo(3, 2);
  EXPECT_EQ(B->GetReplyTo(3), 2);
  B->SetReplyTo(3, 0);
  EXPECT_EQ(B->GetReplyTo(3), 0);
  B->SetReplyTo(3, 99);  // no such message: nothing changes
  EXPECT_EQ(B->GetReplyTo(3), 0);
  // Once the linked message is gone, the link leads nowhere; the numbers
  // of the others follow the deletion.
  ASSERT_FALSE(B->DeleteMessage(3));
  EXPECT_EQ(B->GetReply1st(1), 0);
  EXPECT_EQ(B->GetReplyNext(1), 3);
  EXPECT_LE(B->GetReplyTo(9), 0);
}

TEST_F(SquishTest, MessagesWithEveryFieldComeBackWhole) {
  auto A = OpenSquish(Base());
  auto Copy = OpenSquish(T / "copy");
  tMessage M;
  FillNetmail(M);
  M.DateArrived = tDateTime{2026, 12, 8, 1, 2, 3};
  M.UtcOfs = -180;
  for (int I = 1; I <= 9; ++I) M.Replies[I] = 100 + I;
  M.ReplyTo = 42;
  M.Cost = 0;
  ASSERT_FALSE(A->WriteMessage(1, &M));
  FillNumbered(M, 7, 5000);
  M.DateWritten.Sec = 9;  // odd: the date text keeps the second
  ASSERT_FALSE(A->WriteMessage(2, &M));
  for (int32_t N = 1; N <= 2; ++N) {
    tMessage First, Second;
    ASSERT_FALSE(A->ReadMessage(N, &First));
    std::string Before = Describe(First);
    ASSERT_FALSE(Copy->WriteMessage(N, &First));
    ASSERT_FALSE(Copy->ReadMessage(N, &Second));
    EXPECT_EQ(Describe(Second), Before) << N;
  }
  ASSERT_FALSE(A->ReadMessage(1, &M));
  EXPECT_EQ(M.From, "Ivan Petrov");
  EXPECT_EQ(M.Subject, "\x8f\xe0\xa8\xa2\xa5\xe2 subject");
  EXPECT_EQ(OrigAddrStr(M), "2:5020/2.7");
  EXPECT_EQ(DestAddrStr(M), "2:5020/1.3");
  EXPECT_EQ(M.DateWritten, (tDateTime{2026, 12, 7, 19, 5, 8}));
  EXPECT_EQ(M.DateArrived, (tDateTime{2026, 12, 8, 1, 2, 2})) << "packed: even seconds";
  EXPECT_EQ(M.UtcOfs, -180);
  EXPECT_EQ(M.ReplyTo, 42);
  EXPECT_EQ(M.Replies[9], 109);
  EXPECT_EQ(M.MsgId, "2:5020/2.7 12345678");
  EXPECT_EQ(M.Intl, "2:5020/1 2:5020/2");
  EXPECT_EQ(M.Tid, "tosser 2");
  EXPECT_EQ(M.Flags, "DIR IMM");
  EXPECT_TRUE(M.HasAttr(maPrivate | maKillSent));
  EXPECT_EQ(M.Text.View(), "First line\r\rThird line\r");
  EXPECT_EQ(M.TearLine, " kelvane");
  EXPECT_EQ(M.Origin, "Test Station ");
  ASSERT_EQ(M.SeenByLines.Count(), 1u);
  ASSERT_EQ(M.PathLines.Count(), 2u);
  ASSERT_EQ(M.RouteLines.Count(), 1u);
  ASSERT_EQ(M.Kludges.Count(), 2u);
  EXPECT_EQ(M.Kludges[1], "\x01" "TZUTC: 0300");
  ASSERT_FALSE(A->ReadMessage(2, &M));
  EXPECT_EQ(M.DateWritten.Sec, 9);
  EXPECT_EQ(M.Text.GetSize() > 4900, true);
  EXPECT_EQ(SquishFileProblems(Base()), "");
}

TEST_F(SquishTest, AReplacementKeepsItsPlaceAndItsUmsgId) {
  auto B = OpenSquish(Base());
  Append(*B, 1, 3);
  B->LinkReply(1, 2);
  tMessage M;
  for (int32_t N : {2, 3, 1}) {
    FillNumbered(M, 10 + N);
    uint32_t Uid = B->UmsgIdOf(N);
    ASSERT_FALSE(B->WriteMessage(N, &M));
    EXPECT_EQ(B->Count, 3);
    EXPECT_EQ(B->UmsgIdOf(N), Uid);
    EXPECT_EQ(SquishFileProblems(Base()), "") << N;
  }
  EXPECT_EQ(Subjects(*B), (std::vector<std::string>{"Subject 11", "Subject 12", "Subject 13"}));
  std::string D = Data();
  EXPECT_EQ(U32At(D, sbFirstFree), 256u) << "the replaced frames are free";
}

TEST_F(SquishTest, TenThousandMessagesWrittenReadAndHalved) {
  auto B = OpenSquish(Base());
  tMessage M;
  const int N = 10000;
  for (int I = 1; I <= N; ++I) {
    FillNumbered(M, I, 40);
    ASSERT_FALSE(B->WriteMessage(I, &M)) << I;
  }
  EXPECT_EQ(SquishFileProblems(Base()), "");
  for (int I = 1; I <= N; ++I) {
    ASSERT_FALSE(B->ReadMessage(I, &M)) << I;
    ASSERT_EQ(M.Subject, "Subject " + std::to_string(I));
  }
  for (int I = 2; I <= B->Count; ++I) ASSERT_FALSE(B->DeleteMessage(I)) << I;
  EXPECT_EQ(B->Count, N / 2);
  EXPECT_EQ(SquishFileProblems(Base()), "");
  B.reset();
  B = OpenSquish(Base());
  ASSERT_EQ(B->Count, N / 2);
  for (int I = 1; I <= B->Count; ++I) {
    ASSERT_FALSE(B->ReadMessage(I, &M)) << I;
    ASSERT_EQ(M.Subject, "Subject " + std::to_string(2 * I - 1));
    ASSERT_EQ(M.MsgNum, static_cast<uint32_t>(2 * I));
  }
}

// Once armed, fails every write call from the K-th one on. (A stream
// keeps the file system it was opened with: install it first.)
class tFailingWrites : public tForwardingFileSystem {
 public:
  explicit tFailingWrites(int K) : Left(K) {}
  int32_t Write(intptr_t H, const void* B, uint32_t C) override {
    if (Armed && Left-- <= 0) return -1;
    return Real().Write(H, B, C);
  }
  bool Armed = false;
  int Left;
};

TEST_F(SquishTest, AChangeThatFailsPartWayLeavesAWholeBase) {
  struct tCase {
    const char* Name;
    int32_t N;  // the message changed; 0 appends
    bool Delete;
  } Cases[] = {{"append", 0, false}, {"replace middle", 2, false}, {"replace last", 3, false},
               {"replace first", 1, false}, {"delete middle", 2, true}, {"delete last", 3, true}};
  const std::vector<std::string> Old{"Subject 1", "Subject 2", "Subject 3"};
  for (const tCase& C : Cases) {
    std::vector<std::string> New = Old;
    if (C.Delete)
      New.erase(New.begin() + (C.N - 1));
    else if (C.N == 0)
      New.push_back("Subject 9");
    else
      New[C.N - 1] = "Subject 9";
    for (int K = 0;; ++K) {
      SCOPED_TRACE(std::string(C.Name) + ", writes failing from " + std::to_string(K));
      tRuntimeTempDir Dir;
      std::string P = Dir / "area";
      tFailingWrites Fs(K);
      auto B = std::make_unique<tSquishBase>();
      tMessage M;
      bool Failed;
      std::string Before;
      {
        tFileSystemScope Scope(Fs);
        B = OpenSquish(P);
        Append(*B, 1, 3);
        FillNumbered(M, 9);
        Before = GetFile(P + ".sqd") + GetFile(P + ".sqi");
        Fs.Armed = true;
        Failed = C.Delete ? B->DeleteMessage(C.N) : B->WriteMessage(C.N ? C.N : B->Count + 1, &M);
        Fs.Armed = false;
      }
      // The object shows what the files say, and they hold the old base or
      // the new one, whole; when the first write failed and the base reads
      // as before, not a byte has changed.
      std::vector<std::string> Seen = Subjects(*B);
      if (K == 0) {
        EXPECT_TRUE(Failed);
        EXPECT_TRUE(Seen != Old || GetFile(P + ".sqd") + GetFile(P + ".sqi") == Before);
      }
      B.reset();
      B = OpenSquish(P);
      ASSERT_TRUE(B);
      EXPECT_EQ(Subjects(*B), Seen);
      EXPECT_TRUE(Seen == Old || Seen == New) << ::testing::PrintToString(Seen);
      if (!Failed) {
        EXPECT_GE(K, 3) << "every step a write of its own";
        EXPECT_EQ(Seen, New);
        EXPECT_EQ(SquishFileProblems(P), "");
        break;
      }
      // A failure that left the old base: the next attempt goes through.
      if (Seen == Old) {
        ASSERT_FALSE(C.Delete ? B->DeleteMessage(C.N) : B->WriteMessage(C.N ? C.N : B->Count + 1, &M));
        EXPECT_EQ(Subjects(*B), New);
      }
      ASSERT_LT(K, 20) << "the change never succeeded";
    }
  }
}

// Software that walks the frame chain from the header's first frame, not
// the index, must still see every message after any deletion.
TEST_F(SquishTest, DeletionsKeepTheFrameChainWhole) {
  const std::vector<std::vector<int32_t>> Cases = {{1}, {1, 1}, {4}, {1, 3}, {2, 1}};
  for (const auto& Deleted : Cases) {
    tRuntimeTempDir D;
    auto B = OpenSquish(D / "area");
    Append(*B, 1, 4);
    for (int32_t N : Deleted) ASSERT_FALSE(B->DeleteMessage(N));
    EXPECT_EQ(U32At(GetFile(D / "area.sqd"), sbFirstFrame), B->FrameOffset(1)) << Deleted[0];
    EXPECT_EQ(SquishFileProblems(D / "area"), "") << ::testing::PrintToString(Deleted);
  }
}

// A next UMSGID that another program or a crash left too low: an append
// still goes above every UMSGID the base holds.
TEST_F(SquishTest, AnAppendTakesAUmsgIdAboveEveryOne) {
  const struct { uint32_t Stored, Taken; } Cases[] = {{0, 5}, {2, 5}, {4, 5}, {100, 100}};
  for (const auto& C : Cases) {
    tRuntimeTempDir D;
    Append(*OpenSquish(D / "area"), 1, 3);  // UMSGIDs 2, 3, 4
    std::string Bytes = GetFile(D / "area.sqd");
    for (int I = 0; I < 4; ++I) Bytes[sbNextUid + I] = static_cast<char>(C.Stored >> (8 * I));
    PutFile(D / "area.sqd", Bytes);
    auto B = OpenSquish(D / "area");
    Append(*B, 4, 4);
    EXPECT_EQ(B->UmsgIdOf(4), C.Taken) << C.Stored;
    EXPECT_EQ(U32At(GetFile(D / "area.sqd"), sbNextUid), C.Taken + 1) << C.Stored;
  }
}

// A base cut short inside its last frame: that message has the text that
// is there.
TEST_F(SquishTest, AFrameCutShortGivesTheTextThatIsThere) {
  const std::string Body = "First line of the text\rSecond line\r";
  const struct { size_t Cut; std::string Text; } Cases[] = {
      {1, Body}, {4, Body.substr(0, Body.size() - 3)}, {Body.size() + 1, ""}};
  for (const auto& C : Cases) {
    tRuntimeTempDir D;
    {
      auto B = OpenSquish(D / "area");
      Append(*B, 1, 1);
      tMessage M;
      M.Subject = "cut";
      M.Text.WriteStr(Body);
      ASSERT_FALSE(B->WriteMessage(2, &M));
    }
    std::string Bytes = GetFile(D / "area.sqd");
    PutFile(D / "area.sqd", Bytes.substr(0, Bytes.size() - C.Cut));
    auto B = OpenSquish(D / "area");
    tMessage M;
    ASSERT_FALSE(B->ReadMessage(2, &M)) << C.Cut;
    EXPECT_EQ(M.Subject, "cut");
    EXPECT_EQ(M.Text.View(), C.Text) << C.Cut;
  }
}

// A disk that has filled up: the write that fails takes half its bytes.
class tShortWrites : public tFailingWrites {
 public:
  using tFailingWrites::tFailingWrites;
  int32_t Write(intptr_t H, const void* B, uint32_t C) override {
    if (Armed && Left <= 0) Real().Write(H, B, C / 2);
    return tFailingWrites::Write(H, B, C);
  }
};

// After a change that failed, the open base goes on from the files as they
// are: its next append gives the same files as one made after a fresh open.
TEST_F(SquishTest, AfterAFailedChangeTheBaseGoesOnAsReopened) {
  for (int32_t Changed : {0, 2}) {  // 0 appends
    for (int K = 0;; ++K) {
      SCOPED_TRACE(::testing::Message() << "message " << Changed << ", writes failing from " << K);
      tRuntimeTempDir D, Copy;
      tShortWrites Fs(K);
      std::unique_ptr<tSquishBase> B;
      tMessage M;
      bool Failed;
      {
        tFileSystemScope Scope(Fs);
        B = OpenSquish(D / "area");
        Append(*B, 1, 3);
        FillNumbered(M, 9, 20000);
        Fs.Armed = true;
        Failed = B->WriteMessage(Changed ? Changed : 4, &M);
        Fs.Armed = false;
      }
      for (const char* Ext : {".sqd", ".sqi"}) PutFile(Copy / "area" + Ext, GetFile(D / "area" + Ext));
      FillNumbered(M, 10);
      ASSERT_FALSE(B->WriteMessage(B->Count + 1, &M));
      ASSERT_FALSE(OpenSquish(Copy / "area")->WriteMessage(B->Count, &M));
      for (const char* Ext : {".sqd", ".sqi"}) EXPECT_EQ(GetFile(D / "area" + Ext), GetFile(Copy / "area" + Ext)) << Ext;
      if (!Failed) break;
      ASSERT_LT(K, 20);
    }
  }
}

}  // namespace
}  // namespace kelvane
