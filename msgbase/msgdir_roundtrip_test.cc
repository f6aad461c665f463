// Messages come out as they went in. Every message of the crashmail corpus,
// and ten thousand generated ones of the kinds other software stores, is
// read, written into a new *.MSG base and read again: both reads must agree
// in every field, kludge, control line and body byte, and the copy must
// hold the lines of the original, no more and no fewer. crashmail exports
// our copies of its netmail with their text unchanged.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "msgbase/address.h"
#include "msgbase/baseid.h"
#include "msgbase/message.h"
#include "msgbase/msgdir.h"
#include "msgbase/test_corpus.h"
#include "msgbase/test_fs.h"
#include "msgbase/test_messages.h"
#include "runtime/coding.h"

namespace kelvane {
namespace {

using testing::Describe;
using testing::GeneratedMessage;
using testing::GetFile;
using testing::Letter;
using testing::tCrashmailNode;
using testing::tRng;
using testing::tRuntimeTempDir;

// The text of a stored *.MSG file (after the header, up to its NUL).
std::string StoredText(const std::string& File) {
  std::string Bytes = GetFile(File);
  if (Bytes.size() <= MsgHeaderSize) return std::string();
  std::string Text = Bytes.substr(MsgHeaderSize);
  return Text.substr(0, Text.find('\0'));
}

// The lines of a text (CR, LF or a pair of them end one), in order.
std::vector<std::string> SortedLines(std::string_view Text) {
  std::vector<std::string> Out;
  size_t Start = 0;
  for (size_t I = 0; I <= Text.size(); ++I) {
    if (I < Text.size() && Text[I] != '\r' && Text[I] != '\n') continue;
    Out.emplace_back(Text.substr(Start, I - Start));
    if (I + 1 < Text.size() && (Text[I + 1] == '\r' || Text[I + 1] == '\n') && Text[I + 1] != Text[I]) ++I;
    Start = I + 1;
  }
  std::sort(Out.begin(), Out.end());
  return Out;
}

class CorpusRoundTrip : public testing::tCrashmailTest {};

TEST_F(CorpusRoundTrip, EveryMessageComesOutAsItWentIn) {
  int Read = 0;
  for (const char* Folder : {"netmail", "echo"}) {
    auto Source = OpenBase(Letter('F', Node / Folder), 0x3D40);
    tRuntimeTempDir Copy;
    auto Target = OpenBase(Letter('F', Copy.Path()), 0);
    ASSERT_TRUE(Source && Target);
    auto& Dir = static_cast<tMsgDirBase&>(*Source);
    for (int32_t N : Dir.Numbers()) {
      tMessage First, Second;
      ASSERT_FALSE(Source->ReadMessage(N, &First)) << Folder << " " << N;
      std::string Before = Describe(First);
      ASSERT_FALSE(Target->WriteMessage(N, &First)) << Folder << " " << N;
      EXPECT_EQ(Describe(First), Before) << "the write changed the message";
      ASSERT_FALSE(Target->ReadMessage(N, &Second));
      EXPECT_EQ(Describe(Second), Before) << Folder << " " << N;
      // No line added, none lost or changed (the order of the kludges the
      // writer knows by name may differ).
      std::string Original = StoredText(static_cast<tMsgDirBase&>(*Source).MessageFileName(N).ToStdString());
      std::string Written = StoredText(static_cast<tMsgDirBase&>(*Target).MessageFileName(N).ToStdString());
      EXPECT_EQ(SortedLines(Written), SortedLines(Original)) << Folder << " " << N;
      ++Read;
    }
  }
  EXPECT_EQ(Read, 5) << Node.Log();
}

TEST_F(CorpusRoundTrip, EchomailFromStoredHeadersOfNetZeroNodeZero) {
  // crashmail stores echomail with net 0 and node 0 in the header; the
  // address comes from the MSGID and the origin line.
  auto Base = OpenBase(Letter('F', Node / "echo"), 0x3D40);
  std::vector<std::string> Senders;
  tMessage M;
  for (int32_t N : static_cast<tMsgDirBase&>(*Base).Numbers()) {
    ASSERT_FALSE(Base->ReadMessage(N, &M));
    const uint8_t* H = static_cast<tMsgDirBase&>(*Base).HeaderBuf;
    EXPECT_EQ(GetU16(H + mhOrigNet) | GetU16(H + mhOrigNode), 0) << "not the corpus this test is about";
    Senders.push_back(OrigAddrStr(M).ToStdString() + " " + M.Origin.ToStdString() + M.OriginAddr.ToStdString());
  }
  EXPECT_EQ(Senders, (std::vector<std::string>{"2:5020/1 Node One (2:5020/1.0)", "2:5020/1.3 Pointland (2:5020/1.3)"}));
}

// The strings of a packed message: NUL-ended, at Pos, which moves past it.
std::string PacketString(const std::string& Pkt, size_t& Pos) {
  size_t End = Pkt.find('\0', Pos);
  if (End == std::string::npos) End = Pkt.size();
  std::string Out = Pkt.substr(std::min(Pos, Pkt.size()), End - std::min(Pos, End));
  Pos = End + 1;
  return Out;
}

TEST_F(CorpusRoundTrip, CrashmailExportsOurCopiesOfItsNetmailUnchanged) {
  // Our copies of the tossed netmail go into the netmail folder of a second
  // node (2:5020/2, linked to 2:5020/1), marked local and unsent again, so
  // that its crashmail sends them on.
  tCrashmailNode Other("2:5020/2", "2:5020/1");
  auto Source = OpenBase(Letter('F', Node / "netmail"), 0x3D40);
  auto Target = OpenBase(Letter('F', Other / "netmail"), 0);
  std::vector<std::string> Copies;  // subject, then the stored text
  tMessage M;
  int32_t Next = 2;  // crashmail keeps 1.msg for its high-water mark
  for (int32_t N : static_cast<tMsgDirBase&>(*Source).Numbers()) {
    ASSERT_FALSE(Source->ReadMessage(N, &M));
    M.SetAttr(false, maSent);
    M.SetAttr(true, maLocal);
    ASSERT_FALSE(Target->WriteMessage(Next, &M));
    Copies.push_back(M.Subject.ToStdString() + "\n" +
                     StoredText(static_cast<tMsgDirBase&>(*Target).MessageFileName(Next).ToStdString()));
    ++Next;
  }
  ASSERT_EQ(Copies.size(), 3u);
  Target.reset();
  ASSERT_TRUE(Other.Scan()) << Other.Log();

  std::vector<std::string> Exported;
  for (const std::string& File : Other.Files("out")) {
    std::string Pkt = GetFile(File);
    size_t Pos = 58;
    while (Pos + 14 <= Pkt.size() && GetU16(reinterpret_cast<const uint8_t*>(Pkt.data()) + Pos) == 2) {
      Pos += 14;
      PacketString(Pkt, Pos);  // date
      PacketString(Pkt, Pos);  // to
      PacketString(Pkt, Pos);  // from
      std::string Subject = PacketString(Pkt, Pos);
      std::string Text = PacketString(Pkt, Pos);
      // crashmail adds its Via line, and nothing else.
      size_t Via = Text.rfind("\1Via 2:5020/2 @");
      ASSERT_NE(Via, std::string::npos) << Text;
      EXPECT_EQ(Text.find('\r', Via), Text.size() - 1) << Text;
      Exported.push_back(Subject + "\n" + Text.substr(0, Via));
    }
  }
  std::sort(Copies.begin(), Copies.end());
  std::sort(Exported.begin(), Exported.end());
  EXPECT_EQ(Exported, Copies) << Other.Log();
}

// Ten thousand natively. Under Wine every message file costs some ten
// milliseconds of emulated file calls; the text code is the same on both
// systems, so the Win32 run takes a fifth of the messages.
#ifdef _WIN32
constexpr int32_t GeneratedMessages = 2000;
#else
constexpr int32_t GeneratedMessages = 10000;
#endif

TEST(GeneratedRoundTrip, TenThousandMessagesComeOutAsTheyWentIn) {
  testing::tFixedClock Clock;
  tRng R(20261207);
  tRuntimeTempDir Copy;
  auto Target = OpenBase(Letter('F', Copy.Path()), 0);
  ASSERT_TRUE(Target);
  tMsgDirBase Reader;
  int Failures = 0;
  for (int32_t N = 1; N <= GeneratedMessages && Failures < 5; ++N) {
    std::string Stored = GeneratedMessage(R);
    tMessage First, Second;
    Reader.ReadImage(Stored, &First);
    bool Dated = !(First.DateWritten == tDateTime());
    std::string Before = Describe(First);
    ASSERT_FALSE(Target->WriteMessage(N, &First)) << N;
    // The write dates a message that has none, and changes nothing else.
    if (Dated && Describe(First) != Before) {
      ++Failures;
      ADD_FAILURE() << "message " << N << ": the write changed it\n" << Before << "\n" << Describe(First);
    }
    ASSERT_FALSE(Target->ReadMessage(N, &Second)) << N;
    if (Describe(Second) != Describe(First)) {
      ++Failures;
      EXPECT_EQ(Describe(Second), Describe(First)) << "message " << N;
    }
    // Written once more, the copy comes out byte for byte the same.
    std::string Written = GetFile(static_cast<tMsgDirBase&>(*Target).MessageFileName(N).ToStdString());
    if (Reader.MessageImage(&Second) != Written) {
      ++Failures;
      ADD_FAILURE() << "message " << N << ": a second write differs";
    }
  }
}

TEST(GeneratedRoundTrip, AListingReadShowsWhatTheWholeReadShows) {
  // Generated messages stored in every format; each read as a listing
  // reads it (the head, the sender's origin line only when needed, no
  // text where JAM's address subfields say it all) gives the listed fields
  // of the whole read.
  testing::tFixedClock Clock;
  tRng R(20261209);
  tRuntimeTempDir T;
  tMsgDirBase Reader;
  std::vector<std::string> Messages(GeneratedMessages / 20);
  for (std::string& M : Messages) M = GeneratedMessage(R);
  for (const char* Name : {"Fmsg", "Ssquish", "Jjam", "Pout.pkt"}) {
    const std::string Id = Letter(Name[0], T / (Name + 1));
    auto Base = OpenBase(Id, 0);
    ASSERT_TRUE(Base) << Id;
    for (const std::string& Stored : Messages) {
      tMessage M;
      Reader.ReadImage(Stored, &M);
      ASSERT_FALSE(Base->WriteMessage(Id[0] == 'P' ? 0 : Base->Count + 1, &M)) << Id;
    }
    Base.reset();
    Base = OpenBase(Id, smOpenRead);
    int OriginNeeded = 0;
    tMessage Whole, Listed;
    for (int32_t N = 1; N <= Base->Count; ++N) {
      ASSERT_FALSE(Base->ReadMessage(N, &Whole)) << Id << " " << N;
      ASSERT_FALSE(Base->ReadListed(N, &Listed)) << Id << " " << N;
      EXPECT_EQ(testing::ListedFields(Listed), testing::ListedFields(Whole)) << Id << " " << N;
      OriginNeeded += (Whole.Completed & cvOrigNode) != 0;
    }
    EXPECT_EQ(Base->Count, static_cast<int32_t>(Messages.size())) << Id;
    // Echomail with a header of net 0 node 0 and no MSGID has its sender
    // only in the origin line, which JAM and Squish keep in their fields.
    if (Id[0] == 'F' || Id[0] == 'P') {
      EXPECT_GT(OriginNeeded, 0) << Id;
    }
  }
}

}  // namespace
}  // namespace kelvane
