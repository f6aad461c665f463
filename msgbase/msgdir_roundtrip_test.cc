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
#include "runtime/coding.h"

namespace kelvane {
namespace {

using testing::Describe;
using testing::GetFile;
using testing::Letter;
using testing::tCrashmailNode;
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

// A small portable generator (the standard distributions differ between
// libraries, and the Win32 build must see the same messages).
class tRng {
 public:
  explicit tRng(uint64_t Seed) : State_(Seed) {}
  uint32_t Next() {
    State_ += 0x9E3779B97F4A7C15ull;
    uint64_t Z = State_;
    Z = (Z ^ (Z >> 30)) * 0xBF58476D1CE4E5B9ull;
    Z = (Z ^ (Z >> 27)) * 0x94D049BB133111EBull;
    return static_cast<uint32_t>((Z ^ (Z >> 31)) >> 16);
  }
  uint32_t Below(uint32_t N) { return Next() % N; }
  bool Chance(uint32_t Percent) { return Below(100) < Percent; }
  template <typename T, size_t K>
  const T& Pick(const T (&Items)[K]) {
    return Items[Below(K)];
  }

 private:
  uint64_t State_;
};

// A word of ASCII letters, digits and CP866 letters.
std::string Word(tRng& R, size_t Length) {
  static const char Chars[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.,!?-()\x80\x81\x8f\x9f\xa0\xa5\xae\xaf\xe0"
      "\xe2\xef\xf0\xf1";
  std::string W;
  for (size_t I = 0; I < Length; ++I) W += Chars[R.Below(sizeof Chars - 1)];
  return W;
}

std::string Words(tRng& R, size_t MaxWords) {
  std::string S;
  size_t N = 1 + R.Below(static_cast<uint32_t>(MaxWords));
  for (size_t I = 0; I < N; ++I) {
    if (I) S += R.Chance(10) ? "\t" : " ";
    S += Word(R, 1 + R.Below(10));
  }
  return S;
}

struct tGenAddr {
  uint32_t Zone, Net, Node, Point;
};

std::string AddrText(const tGenAddr& A, bool WithPoint) {
  std::string S = std::to_string(A.Zone) + ":" + std::to_string(A.Net) + "/" + std::to_string(A.Node);
  if (WithPoint && A.Point) S += "." + std::to_string(A.Point);
  return S;
}

// One stored *.MSG file of the kinds other software writes: netmail and
// echomail, kludges (some in small letters), CP866 text, CR, CR LF or LF
// line ends, long lines, empty fields, names with leftover bytes after
// their NUL, dates in every form and none, NUL endings with and without
// leftovers behind them.
std::string GeneratedMessage(tRng& R) {
  bool Echo = R.Chance(50);
  std::string Eol = R.Chance(70) ? "\r" : R.Chance(50) ? "\r\n" : "\n";
  tGenAddr Orig{1 + R.Below(4), 1 + R.Below(30000), R.Below(600), R.Chance(30) ? 1 + R.Below(50) : 0};
  tGenAddr Dest{1 + R.Below(4), 1 + R.Below(30000), R.Below(600), R.Chance(20) ? 1 + R.Below(50) : 0};

  uint8_t H[190] = {};
  auto Field = [&R, &H](uint32_t At, uint32_t Width, const std::string& Text) {
    PutTextField(H + At, Width, Text, Width - 1);
    // Leftover memory after the NUL, as some tossers leave it.
    if (R.Chance(30))
      for (uint32_t I = static_cast<uint32_t>(Text.size()) + 1; I < Width; ++I) H[At + I] = static_cast<uint8_t>(R.Next());
  };
  auto Name = [&R](size_t Max) { return R.Chance(5) ? std::string() : Word(R, 1 + R.Below(static_cast<uint32_t>(Max))); };
  Field(mhFrom, MsgNameWidth, Name(35));
  Field(mhTo, MsgNameWidth, Echo && R.Chance(50) ? "All" : Name(35));
  Field(mhSubject, MsgSubjectWidth, R.Chance(5) ? std::string() : Words(R, 12).substr(0, 71));
  static const char* const Months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char Date[40];
  uint32_t Day = 1 + R.Below(28), Month = R.Below(12), Year = R.Below(100), Hour = R.Below(24), Min = R.Below(60),
           Sec = R.Below(60);
  uint32_t Form = R.Below(100);
  if (Form < 80)
    std::snprintf(Date, sizeof Date, "%02u %s %02u  %02u:%02u:%02u", Day, Months[Month], Year, Hour, Min, Sec);
  else if (Form < 85)
    std::snprintf(Date, sizeof Date, "Mon %2u %s %02u %02u:%02u", Day, Months[Month], Year, Hour, Min);
  else if (Form < 90)
    std::snprintf(Date, sizeof Date, "%02u-%02u-%02u %02u:%02u:%02u", Day, Month + 1, Year, Hour, Min, Sec);
  else if (Form < 95)
    Date[0] = 0;
  else
    std::snprintf(Date, sizeof Date, "%s", R.Chance(50) ? "00  00  00:00:00" : "garbage");
  Field(mhDate, MsgDateWidth, Date);
  PutU16(H + mhTimesRead, static_cast<uint16_t>(R.Below(3)));
  bool ZeroHeader = Echo && R.Chance(60);
  PutU16(H + mhOrigNet, static_cast<uint16_t>(ZeroHeader ? 0 : Orig.Net));
  PutU16(H + mhOrigNode, static_cast<uint16_t>(ZeroHeader ? 0 : Orig.Node));
  PutU16(H + mhDestNet, static_cast<uint16_t>(ZeroHeader ? 0 : Dest.Net));
  PutU16(H + mhDestNode, static_cast<uint16_t>(ZeroHeader ? 0 : Dest.Node));
  PutU16(H + mhAttr, static_cast<uint16_t>(R.Next()));
  PutU16(H + mhNextReply, static_cast<uint16_t>(R.Chance(10) ? R.Below(1000) : 0));
  std::string File(reinterpret_cast<char*>(H), sizeof H);

  auto Kludge = [&](const char* Name, const std::string& Value) {
    std::string N = Name;
    if (R.Chance(10))
      for (char& C : N) C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
    File += "\1" + N + Value + Eol;
  };
  if (!Echo && R.Chance(80)) Kludge("INTL ", AddrText(Dest, false) + " " + AddrText(Orig, false));
  if (!Echo && Orig.Point && R.Chance(80)) Kludge("FMPT ", std::to_string(Orig.Point));
  if (!Echo && Dest.Point && R.Chance(80)) Kludge("TOPT ", std::to_string(Dest.Point));
  char Serial[9];
  std::snprintf(Serial, sizeof Serial, "%08x", R.Next());
  if (R.Chance(85)) Kludge("MSGID: ", AddrText(Orig, true) + (R.Chance(20) ? "@fidonet " : " ") + Serial);
  if (R.Chance(20)) Kludge("REPLY: ", AddrText(Dest, true) + " " + Serial);
  static const char* const FlagWords[] = {"DIR", "IMM", "PVT", "XPVT", "NPD", "cfm", "K/S", "ZZZ", "hub", "DDIR"};
  if (R.Chance(15)) {
    std::string Flags = R.Pick(FlagWords);
    for (uint32_t I = R.Below(4); I > 0; --I) Flags += std::string(" ") + R.Pick(FlagWords);
    Kludge("FLAGS ", Flags);
  }
  if (R.Chance(40)) Kludge("PID: ", Words(R, 3));
  if (R.Chance(20)) Kludge("TID: ", Words(R, 3));
  if (R.Chance(50)) Kludge("CHRS: ", "CP866 2");
  if (R.Chance(30)) Kludge("TZUTC: ", "0300");
  if (R.Chance(10)) Kludge("X-LONG: ", std::string(300, 'k'));

  // The body: the forward scan ends at its first line and the backward one
  // at its last, so neither may look like a control line.
  uint32_t Lines = R.Below(30);
  for (uint32_t I = 0; I < Lines; ++I) {
    bool Edge = I == 0 || I + 1 == Lines;
    if (!Edge && R.Chance(15)) {
      File += Eol;
    } else if (!Edge && R.Chance(5)) {
      static const char* const Quoted[] = {" * Origin: quoted (1:1/1)", "--- quoted", "SEEN-BY: 1/1", "\1PID: inside"};
      File += std::string(R.Pick(Quoted)) + Eol;
    } else if (R.Chance(5)) {
      File += "L" + std::string(256 + R.Below(700), 'l') + Eol;
    } else {
      File += "B" + Words(R, 12) + Eol;
    }
  }
  if (R.Chance(10)) File += Eol + Eol;

  if (R.Chance(Echo ? 80 : 30)) File += R.Chance(10) ? "---" + Eol : "--- " + Words(R, 3) + Eol;
  if (R.Chance(Echo ? 90 : 10)) {
    std::string Addr = AddrText(Orig, true);
    if (!Orig.Point && R.Chance(30)) Addr += ".0";
    if (R.Chance(10)) Addr += "@fidonet";
    File += " * Origin: " + Words(R, 6) + " (" + Addr + ")" + Eol;
  }
  if (Echo) {
    for (uint32_t I = R.Below(4); I > 0; --I) File += "SEEN-BY: " + std::to_string(Orig.Net) + "/" + Words(R, 8) + Eol;
    for (uint32_t I = 1 + R.Below(2); I > 0; --I) File += "\1PATH: " + std::to_string(Orig.Net) + "/1" + Eol;
  } else {
    for (uint32_t I = R.Below(4); I > 0; --I)
      File += "\1Via " + AddrText(Dest, false) + " @20261207." + Serial + "." + std::to_string(I) + Eol;
  }
  uint32_t End = R.Below(100);
  if (End < 85)
    File += '\0';
  else if (End < 90)
    File += std::string("\0-OLD.AREA\r", 11);
  return File;
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

}  // namespace
}  // namespace kelvane
