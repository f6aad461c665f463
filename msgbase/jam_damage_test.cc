// JAM bases that are damaged, or written by programs that get the format
// wrong, and updates that fail part-way: the reader reads what is there or
// fails cleanly, and a failed update leaves every file as it was.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "msgbase/baseid.h"
#include "msgbase/jam.h"
#include "msgbase/jam_test_util.h"
#include "msgbase/message.h"
#include "msgbase/test_fs.h"
#include "runtime/file_system.h"

namespace kelvane {
namespace {

using testing::IsFile;
using testing::Letter;
using testing::ReadJamFiles;
using testing::SetU32;
using testing::tFileSystemScope;
using testing::tJamFiles;
using testing::tJamImage;
using testing::tNthWriteFails;
using testing::tRuntimeTempDir;
using testing::U32At;
using testing::WriteJamFiles;

// Three messages: 2 and 3 answer 1.
tJamImage ThreeMessages() {
  tJamImage I;
  I.Add({{0, "2:5020/1"}, {1, "2:5020/2"}, {2, "One"}, {3, "All"}, {6, "first"}, {2000, "CHRS: CP866 2"}},
        "Text one\r", [](std::string& H) { SetU32(H, jhReply1st, 2); });
  I.Add({{2, "Two"}, {6, "second"}, {2001, "5020/1 2"}}, "Text two\r--- t\r", [](std::string& H) {
    SetU32(H, jhReplyTo, 1);
    SetU32(H, jhReplyNext, 3);
  });
  I.Add({{2, "Three"}, {6, "third"}}, "Text three\r", [](std::string& H) { SetU32(H, jhReplyTo, 1); });
  return I;
}

struct tSeen {
  bool Read = false;
  std::string From, Subject, Text;
  bool operator==(const tSeen& O) const {
    return Read == O.Read && From == O.From && Subject == O.Subject && Text == O.Text;
  }
};

// What every operation that reads gives for each message of the base.
std::vector<tSeen> ReadEverything(tJamBase& B) {
  std::vector<tSeen> Out;
  testing::ReadEveryWay(B, [&](int32_t N, bool Failed, const tMessage& M) {
    if (N < 1 || N > B.Count) return;
    Out.emplace_back();
    if (Failed) return;
    Out.back() = {true, M.From.ToStdString(), M.Subject.ToStdString(), std::string(M.Text.View())};
  });
  return Out;
}

// Cut at every length, each file in turn: the fixed header must be whole
// for the base to open; a message whose record, header, subfields and text
// all survive reads as before; the rest fail or read what is left. An
// update of what is left still works.
TEST(JamDamage, TruncatedFilesAtEveryLength) {
  tJamImage Whole = ThreeMessages();
  tJamBase Ref;
  ASSERT_TRUE(Ref.OpenImages(Whole.Jhr, Whole.Jdt, Whole.Jdx));
  std::vector<tSeen> Want = ReadEverything(Ref);
  ASSERT_EQ(Want.size(), 3u);
  ASSERT_EQ(Want[1].Text, "Text two\r");

  for (int Which = 0; Which < 3; ++Which) {
    const std::string& File = Which == 0 ? Whole.Jhr : Which == 1 ? Whole.Jdt : Whole.Jdx;
    for (size_t Len = 0; Len < File.size(); ++Len) {
      std::string Jhr = Whole.Jhr, Jdt = Whole.Jdt, Jdx = Whole.Jdx;
      (Which == 0 ? Jhr : Which == 1 ? Jdt : Jdx).resize(Len);
      tJamBase B;
      bool Opened = B.OpenImages(Jhr, Jdt, Jdx);
      ASSERT_EQ(Opened, Jhr.size() >= 1024) << Which << " " << Len;
      if (!Opened) continue;
      std::vector<tSeen> Got = ReadEverything(B);
      for (size_t K = 0; K < Got.size(); ++K) {
        size_t HeaderEnd = (K + 1 < Whole.Offsets.size()) ? Whole.Offsets[K + 1] : Whole.Jhr.size();
        size_t TextEnd = U32At(Whole.Jhr, Whole.Offsets[K] + jhTxtOffset) + U32At(Whole.Jhr, Whole.Offsets[K] + jhTxtLen);
        if (Jdx.size() >= (K + 1) * 8 && Jhr.size() >= HeaderEnd && Jdt.size() >= TextEnd) {
          EXPECT_TRUE(Got[K] == Want[K]) << Which << " " << Len << " message " << K + 1;
        }
      }
      tMessage M;
      M.Subject = "appended";
      ASSERT_FALSE(B.WriteMessage(B.Count + 1, &M)) << Which << " " << Len;
      ASSERT_FALSE(B.ReadMessage(B.Count, &M));
      EXPECT_EQ(M.Subject, "appended");
      B.DeleteMessage(2);
      B.LinkReply(1, 3);
    }
  }
}

// Fields that lie: offsets and lengths past the header or the file, and the
// faults of real writers (jamnntpd's SubfieldLen on 64-bit systems,
// crashmail's mangled 32-bit fields and wrong CRCs and counters).
TEST(JamDamage, LyingFieldsAreNotBelieved) {
  struct tCase {
    const char* Name;
    std::function<void(tJamImage&)> Damage;
    std::function<void(tJamBase&)> Check;
  };
  auto Rec = [](tJamImage& I, int32_t N, uint32_t Offset) { SetU32(I.Jdx, (N - 1) * 8 + 4, Offset); };
  auto Field = [](tJamImage& I, int32_t N, uint32_t F, uint32_t V) { SetU32(I.Jhr, I.Offsets[N - 1] + F, V); };
  auto Reads = [](tJamBase& B, int32_t N) {
    tMessage M;
    return B.ReadMessage(N, &M) ? std::string("(fails)") : M.From.ToStdString() + "|" + M.Subject.ToStdString() +
                                                                  "|" + std::string(M.Text.View());
  };
  const tCase Cases[] = {
      {"a header offset past the end", [&](tJamImage& I) { Rec(I, 1, static_cast<uint32_t>(I.Jhr.size())); },
       [&](tJamBase& B) {
         EXPECT_FALSE(B.Exists(1));
         EXPECT_EQ(Reads(B, 1), "(fails)");
         EXPECT_EQ(Reads(B, 2), "Two|second|Text two\r");
       }},
      {"a header cut by the end of the file", [&](tJamImage& I) { Rec(I, 3, static_cast<uint32_t>(I.Jhr.size() - 40)); },
       [&](tJamBase& B) { EXPECT_FALSE(B.Exists(3)); }},
      {"a header offset inside the fixed header", [&](tJamImage& I) { Rec(I, 1, 0), Rec(I, 2, 512); },
       [&](tJamBase& B) { EXPECT_FALSE(B.Exists(1) || B.Exists(2)); }},
      {"a negative header offset", [&](tJamImage& I) { Rec(I, 2, 0x80000400); },
       [&](tJamBase& B) { EXPECT_FALSE(B.Exists(2)); }},
      {"no header where the record points", [&](tJamImage& I) { Field(I, 2, 0, 0x12345678), Field(I, 2, 4, 7); },
       [&](tJamBase& B) {
         EXPECT_TRUE(B.Exists(2));
         tMessage M;
         M.State = msRead;
         EXPECT_TRUE(B.ReadMessage(2, &M));
         EXPECT_EQ(M.State, msEmpty);
         EXPECT_FALSE(B.DeleteMessage(2));  // the record goes; the bytes are not written
         EXPECT_FALSE(B.Exists(2));
       }},
      {"SubfieldLen past the file", [&](tJamImage& I) { Field(I, 3, jhSubfieldLen, 0xFFFFFFFF); },
       [&](tJamBase& B) { EXPECT_EQ(Reads(B, 3), "Three|third|Text three\r"); }},
      {"SubfieldLen into the next header, as jamnntpd writes it",
       [&](tJamImage& I) { Field(I, 1, jhSubfieldLen, U32At(I.Jhr, I.Offsets[0] + jhSubfieldLen) + 6 * 8); },
       [&](tJamBase& B) {
         tJamRawMessage Raw;
         ASSERT_TRUE(B.ReadRaw(1, Raw));
         EXPECT_EQ(Raw.Subfields.size(), 6u);  // the next header is no subfield
         tMessage M;
         ASSERT_FALSE(B.ReadMessage(1, &M));
         EXPECT_EQ(M.Subject, "first");
         EXPECT_EQ(Reads(B, 2), "Two|second|Text two\r");
       }},
      {"a DatLen past SubfieldLen",
       [&](tJamImage& I) { SetU32(I.Jhr, I.Offsets[1] + 76 + 8 + 3 + 4, 0x7FFFFFF0); },  // the subject's DatLen
       [&](tJamBase& B) { EXPECT_EQ(Reads(B, 2), "Two||Text two\r"); }},
      {"a TxtOffset past the texts", [&](tJamImage& I) { Field(I, 1, jhTxtOffset, 0xFFFFFF00); },
       [&](tJamBase& B) { EXPECT_EQ(Reads(B, 1), "One|first|"); }},
      {"a TxtLen past the texts", [&](tJamImage& I) { Field(I, 3, jhTxtLen, 0x7FFFFFFF); },
       [&](tJamBase& B) { EXPECT_EQ(Reads(B, 3), "Three|third|Text three\r"); }},
      {"a TxtLen past the end of .jdt, over the texts behind it", [&](tJamImage& I) { Field(I, 1, jhTxtLen, 0xFFFFFFF0); },
       [&](tJamBase& B) {
         EXPECT_EQ(Reads(B, 1), "One|first|Text one\r");  // not the texts of 2 and 3
         EXPECT_TRUE(B.Losses().TextCut && B.Losses().TextKept == 9);
       }},
      {"headers marked deleted that their records still point at, as crashmail deletes",
       [&](tJamImage& I) {
         Field(I, 2, jhAttribute, jaDeleted), Field(I, 3, jhAttribute, jaDeleted);
         SetU32(I.Jhr, fhActiveMsgs, 1);
       },
       [&](tJamBase& B) {
         tMessage M;
         EXPECT_FALSE(B.Exists(2));
         EXPECT_EQ(Reads(B, 2), "(fails)");
         ASSERT_FALSE(B.ReadMarkedDeleted(2, &M));  // as it stands, for show
         EXPECT_TRUE(M.HasAttr(maDeleted) && B.ReadMarkedDeleted(1, &M));
         EXPECT_FALSE(B.DeleteMessage(2));  // deleted once: counted once
         EXPECT_EQ(GetU32(B.FixedHeader + fhActiveMsgs), 1u);
         M.Clear();
         ASSERT_FALSE(B.WriteMessage(3, &M));  // a message again: counted again
         EXPECT_EQ(GetU32(B.FixedHeader + fhActiveMsgs), 2u);
       }},
      {"links mangled to huge numbers",
       [&](tJamImage& I) {
         Field(I, 1, jhReply1st, 0xFFFFFFC8);
         Field(I, 2, jhReplyTo, 0xFFFFFF81);
         Field(I, 2, jhReplyNext, 0x000000C8);
       },
       [&](tJamBase& B) {
         tMessage M;
         ASSERT_FALSE(B.ReadThread(1, &M));
         EXPECT_EQ(M.Replies[1], static_cast<int32_t>(0xFFFFFFC8));
         EXPECT_EQ(M.Replies[2], 0);
         B.LinkReply(1, 2);  // the bogus first answer gives way
         EXPECT_EQ(B.GetReply1st(1), 2);
         EXPECT_FALSE(B.DeleteMessage(2));
         EXPECT_EQ(B.GetReply1st(1), 0);
       }},
      {"a part of an index record at the end", [&](tJamImage& I) { I.Jdx += "\x01\x02\x03"; },
       [&](tJamBase& B) {
         EXPECT_EQ(B.Count, 3);
         tMessage M;
         M.Subject = "fourth";
         ASSERT_FALSE(B.WriteMessage(4, &M));
         EXPECT_EQ(Reads(B, 4), "|fourth|");
         EXPECT_EQ(B.IndexStream->GetSize(), 32);
       }},
      {"wrong CRCs, counters and password", [&](tJamImage& I) {
         SetU32(I.Jhr, fhActiveMsgs, 0);
         SetU32(I.Jhr, fhPasswordCrc, 0xFEFEFEFF);
         SetU32(I.Jdx, 0, 0x3A2B);
         Field(I, 1, jhMsgIdCrc, 1);
       },
       [&](tJamBase& B) {
         EXPECT_EQ(Reads(B, 1), "One|first|Text one\r");
         EXPECT_FALSE(B.DeleteMessage(1));
         EXPECT_EQ(U32At(std::string(reinterpret_cast<char*>(B.FixedHeader), 1024), fhActiveMsgs), 0u);
       }},
  };
  for (const tCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    tJamImage I = ThreeMessages();
    C.Damage(I);
    tJamBase B;
    ASSERT_TRUE(B.OpenImages(I.Jhr, I.Jdt, I.Jdx));
    ReadEverything(B);
    C.Check(B);
  }
}

// Updates whose writes fail: one chosen system write fails (then the base
// must be byte for byte as before, and the update reports failure), or
// every write from it on (then the base must still read, with the message
// old or new). Each write of an update is tried in turn until one update
// needs no more.
TEST(JamDamage, FailedUpdatesLeaveTheBaseAsItWas) {
  tRuntimeTempDir T;
  std::string Path = T / "base";
  {
    tJamImage I = ThreeMessages();
    WriteJamFiles(Path, {I.Jhr, I.Jdt, I.Jdx});
  }
  const tJamFiles Before = ReadJamFiles(Path);
  struct tUpdate {
    const char* Name;
    int32_t Target;
    std::function<bool(tMsgBase&)> Run;
  };
  auto Write = [](int32_t N) {
    return [N](tMsgBase& B) {
      tMessage M;
      M.From = "New";
      M.Subject = "new";
      M.Text.WriteStr("New text\r");
      return B.WriteMessage(N, &M);
    };
  };
  const tUpdate Updates[] = {
      {"append", 4, Write(4)},
      {"replace", 2, Write(2)},
      {"delete the first answer", 2, [](tMsgBase& B) { return B.DeleteMessage(2); }},
      {"delete the last answer", 3, [](tMsgBase& B) { return B.DeleteMessage(3); }},
  };
  for (const tUpdate& U : Updates) {
    for (bool Sticky : {false, true}) {
      for (int FailAt = 0;; ++FailAt) {
        SCOPED_TRACE(std::string(U.Name) + (Sticky ? ", every write from " : ", write ") + std::to_string(FailAt));
        WriteJamFiles(Path, Before);
        tNthWriteFails Fs(FailAt, Sticky);
        bool Failed;
        {
          // Streams use the file system they were opened on.
          tFileSystemScope Scope(Fs);
          auto B = OpenBase(Letter('J', Path), 0);
          ASSERT_TRUE(B);
          Failed = U.Run(*B);
        }
        if (Fs.Failed == 0) {
          EXPECT_FALSE(Failed);
          ASSERT_GT(FailAt, 2);  // every update writes more than a little
          break;
        }
        EXPECT_TRUE(Failed);
        if (!Sticky) {
          EXPECT_TRUE(ReadJamFiles(Path) == Before);
        }
        // The base reads; the target is the old message or the new one.
        tJamBase R;
        ASSERT_FALSE(R.Open(Path, 0));
        tMessage M;
        for (int32_t N = 1; N <= 3; ++N) {
          if (N == U.Target) continue;
          ASSERT_FALSE(R.ReadMessage(N, &M)) << N;
        }
        if (!R.ReadMessage(U.Target, &M)) {
          std::string S = M.Subject.ToStdString();
          EXPECT_TRUE(S == "new" || S == (U.Target == 2 ? "second" : "third")) << S;
        }
      }
    }
  }
}

// A file system on which no file may be written, as a read-only medium or
// read-only files are: refuses every open that asks to write.
class tReadOnlyFileSystem : public tForwardingFileSystem {
 public:
  bool Open(std::string_view P, uint16_t Mode, intptr_t& H, int& E) override {
    if (DecodeOpenMode(Mode).Write) {
      E = 13;  // access denied
      return false;
    }
    return Real().Open(P, Mode, H, E);
  }
};

TEST(JamDamage, ReadOnlyFilesAreReadAndNotWritten) {
  tRuntimeTempDir T;
  std::string Path = T / "base";
  tJamImage I = ThreeMessages();
  WriteJamFiles(Path, {I.Jhr, I.Jdt, I.Jdx});
  tReadOnlyFileSystem Fs;
  tFileSystemScope Scope(Fs);
  for (int32_t Mode : {int32_t{smOpenRead}, 0}) {
    auto B = OpenBase(Letter('J', Path), Mode);
    ASSERT_TRUE(B) << Mode;
    EXPECT_EQ(B->Count, 3);
    tMessage M;
    ASSERT_FALSE(B->ReadMessage(2, &M));
    EXPECT_EQ(M.Subject, "second");
    EXPECT_TRUE(B->WriteMessage(4, &M));
    EXPECT_TRUE(B->WriteMessage(2, &M));
    EXPECT_TRUE(B->DeleteMessage(2));
    EXPECT_EQ(B->Count, 3);
  }
  EXPECT_TRUE(ReadJamFiles(Path) == (tJamFiles{I.Jhr, I.Jdt, I.Jdx}));
  EXPECT_FALSE(IsFile(Path + ".jqv"));
}

}  // namespace
}  // namespace kelvane
