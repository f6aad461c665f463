// kelvutil list and show: control bytes never reach the terminal, the
// corpus echomail is listed with the addresses of its origin lines, values
// the reader completed are marked, and two runs print the same.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "msgbase/baseid.h"
#include "msgbase/jam.h"
#include "msgbase/msgbase.h"
#include "msgbase/message.h"
#include "msgbase/msgdir.h"
#include "msgbase/squish.h"
#include "msgbase/test_corpus.h"
#include "msgbase/test_pkt.h"
#include "runtime/coding.h"
#include "runtime/test_dir.h"
#include "tools/kelvutil.h"
#include "tools/test_kelvutil.h"

namespace kelvane {
namespace {

using testing::GetFile;
using testing::PutFile;
using testing::tRuntimeTempDir;

std::string List(tMsgBase& Base) {
  tTextOut T;
  PrintMessageList(T, Base);
  return T.Text();
}
std::string Show(tMsgBase& Base, int32_t N) {
  tTextOut T;
  EXPECT_TRUE(PrintMessage(T, Base, N)) << N;
  return T.Text();
}

std::unique_ptr<tMsgBase> OpenFolder(const std::string& Path) {
  std::string Id = "F" + Path;
  auto Base = OpenBase(Id, smOpenRead);
  EXPECT_TRUE(Base) << Path;
  return Base;
}

std::vector<std::string> Fields(const std::string& Line) {
  std::vector<std::string> Out(1);
  for (char C : Line)
    if (C == '\t')
      Out.emplace_back();
    else
      Out.back() += C;
  return Out;
}

TEST(KelvutilTest, ControlBytesAreEscaped) {
  EXPECT_EQ(Escaped("\x1b]0;owned\x07\x1b[2J"), "^[]0;owned^G^[[2J");
  EXPECT_EQ(Escaped("a\tb\rc\nd\x01\x7f\x1f"), "a^Ib^Mc^Jd^A^?^_");
  EXPECT_EQ(Escaped("\x8f\xe0\xa8\xa2\xa5\xe2 ~"), "\x8f\xe0\xa8\xa2\xa5\xe2 ~");  // CP866 text stays

  // A hostile netmail: escape sequences that would retitle and clear the
  // terminal, in every field and line kelvutil prints.
  tRuntimeTempDir T;
  uint8_t H[190] = {};
  PutTextField(H + 0, 36, "Evil\x1b]0;pwned\x07", 35);
  PutTextField(H + 36, 36, "Sysop\tTab", 35);
  PutTextField(H + 72, 72, "Subj\x1b[2J\x08\x7f", 71);
  PutTextField(H + 144, 20, "07 Dec 26\x1b  19:05", 19);
  PutU16(H + 172, 5020);
  PutU16(H + 168, 2);
  std::string Text = "\x01MSGID: 2:5020/2 1\x1b[H\r\x01X-EVIL: \x1b[31m\r\x01PID: \x9b" "2J\rLine\x1b[2J\tend\x07\r"
                     "--- tear\x1b\r * Origin: o\x1b (2:5020/2)\rSEEN-BY: 5020/1\x1b\r\x01PATH: 5020/2\x1b\r";
  PutFile(T / "1.msg", std::string(reinterpret_cast<char*>(H), 190) + Text);
  auto Base = OpenFolder(T.Path());
  for (const std::string& Out : {List(*Base), Show(*Base, 1)}) {
    for (char C : Out) {
      uint8_t B = static_cast<uint8_t>(C);
      EXPECT_TRUE(B >= 0x20 ? B != 0x7F : (C == '\n' || C == '\t')) << "byte " << int(B) << " in\n" << Out;
    }
    EXPECT_NE(Out.find("Evil^[]0;pwned^G"), std::string::npos) << Out;
    EXPECT_NE(Out.find("Subj^[[2J^H^?"), std::string::npos) << Out;
    EXPECT_NE(Out.find("Sysop^ITab"), std::string::npos) << Out;
  }
  std::string Shown = Show(*Base, 1);
  for (const char* Line : {"Kludge\t^AX-EVIL: ^[[31m\n", "Line^[[2J^Iend^G\n", "TearLine\t tear^[\n",
                           "SeenBy\t5020/1^[\n", "Path\t5020/2^[\n", "MsgId\t2:5020/2 1^[[H\n"})
    EXPECT_NE(Shown.find(Line), std::string::npos) << Line << " in\n" << Shown;
  // A list line stays one record of seven fields.
  std::string Listed = List(*Base);
  EXPECT_EQ(Fields(Listed.substr(0, Listed.find('\n'))).size(), 7u) << Listed;
}

// show prints the body as it reads it from the file: each of CR, LF, CR LF
// and LF CR ends one line, a line longer than any block is printed whole,
// and the tail's control lines stay out of it.
TEST(KelvutilTest, ShowPrintsABodyOfAnyLengthLineByLine) {
  tRuntimeTempDir T;
  const std::string Long(200000, 'w');
  std::string Body = "a\r\nb\n\rc\r\rd\n\n" + Long + "\r\x01" "ctl\re";
  PutFile(T / "1.msg", std::string(190, '\0') + Body + "\r--- t\r * Origin: o (2:5020/2)\r");
  auto Base = OpenFolder(T.Path());
  std::string Shown = Show(*Base, 1);
  EXPECT_EQ(Shown.substr(Shown.find("\n\n") + 2), "a\nb\nc\n\nd\n\n" + Long + "\n^Actl\ne\n");
}

TEST(KelvutilTest, PacketsAreListedAndShownWithTheirHeader) {
  tRuntimeTempDir T;
  PutFile(T / "0000abcd.pkt", testing::PacketBytes(testing::PktHeaderBytes({2, 5020, 2, 7}, {2, 5020, 1, 0}, "pw\x1b"),
                                                   testing::ThreeMessages()));
  for (const std::string& Id : {T / "0000abcd.pkt", "P" + T / "0000abcd.pkt"}) {
    auto Base = OpenBaseForReading("list", Id.c_str());
    ASSERT_TRUE(Base) << Id;
    std::string Listed = List(*Base);
    EXPECT_EQ(std::count(Listed.begin(), Listed.end(), '\n'), 3) << Listed;
    EXPECT_EQ(Fields(Listed.substr(0, Listed.find('\n'))),
              (std::vector<std::string>{"1", "Ivan Petrov", "2:5020/2", "Test Sysop", "2:5020/1", "first",
                                        "09 Dec 26  03:04:05"}));
    std::string Shown = Show(*Base, 2);
    EXPECT_EQ(Shown.substr(0, Shown.find("Number\t")),
              "PacketFrom\t2:5020/2.7\nPacketTo\t2:5020/1\nPacketPassword\tpw^[\nPacketDate\t2026-12-09 03:04:05\n"
              "PacketProduct\t0x00fe\nPacketRevision\t1.7\nPacketCapWord\t0x0001\nPacketCapCopy\t0x0100\n");
    EXPECT_NE(Shown.find("\nArea\tFIDO.TEST\n"), std::string::npos) << Shown;
  }
}

// A type 2.2 header (FSC-0045) is read by its own layout, not as 2+: show
// gives its points and domains and no date, copy into it takes the
// addresses it has, and check finds no capability word where a domain's
// bytes lie.
TEST(KelvutilTest, TypeTwoPointTwoPacketsByTheirOwnLayout) {
  tRuntimeTempDir T;
  const std::string File = T / "0000aa22.pkt";
  PutFile(File, testing::PacketBytes(testing::PktHeader22Bytes({2, 5020, 2, 3}, {2, 5020, 1, 0}, "amiganet", "fidonet"),
                                     testing::ThreeMessages()));
  auto Base = OpenBaseForReading("show", File);
  ASSERT_TRUE(Base);
  std::string Shown = Show(*Base, 1);
  EXPECT_EQ(Shown.substr(0, Shown.find("Number\t")),
            "PacketFrom\t2:5020/2.3\nPacketTo\t2:5020/1\nPacketPassword\tpw\nPacketType\t2.2\n"
            "PacketFromDomain\tamiganet\nPacketToDomain\tfidonet\nPacketProduct\t0xfe\nPacketRevision\t1\n");
  Base.reset();
  testing::tRun Checked = testing::Command(RunCheckCommand, {"check", File});
  EXPECT_EQ(Checked.Code, 0) << Checked.Out;
  ASSERT_EQ(testing::Command(RunCopyCommand, {"copy", File, File + ".pkt", "--pkt-from", "2:5020/2.3", "--pkt-to",
                                              "2:5020/1"}).Code, 0);
  EXPECT_EQ(testing::Command(RunCopyCommand, {"copy", File + ".pkt", File, "--pkt-from", "2:5020/2.3"}).Code, 0);
}

// A JAM base: list reads it through OpenBase, show adds where the header
// lies, the links as stored and every subfield by id, escaped like the rest.
TEST(KelvutilTest, ShowsJamHeadersAndSubfields) {
  tRuntimeTempDir T;
  {
    tJamBase Base;
    ASSERT_FALSE(Base.Create(T / "area", 0));
    tMessage M;
    for (const char* Subject : {"first", "second"}) {
      M.Clear();
      M.From = "Ivan";
      M.To = "All";
      M.Subject = Subject;
      M.OrigZone = 2, M.OrigNet = 5020, M.OrigNode = 1, M.OrigPoint = 0;
      M.DestZone = 2, M.DestNet = 5020, M.DestNode = 2, M.DestPoint = 0;
      M.Kludges.Append("\x01X-EVIL: \x1b[2J");
      M.Text.WriteStr("Body\r");
      ASSERT_FALSE(Base.WriteMessage(Base.Count + 1, &M));
    }
    Base.LinkReply(1, 2);
  }
  auto Base = OpenBase("J" + T / "area", smOpenRead);
  ASSERT_TRUE(Base);
  std::string Listed = List(*Base);
  EXPECT_EQ(Listed.substr(0, Listed.find('\n')), "1\tIvan\t2:5020/1\tAll\t2:5020/2\tfirst\t" +
                                                     std::string(Fields(Listed.substr(0, Listed.find('\n')))[6]));
  EXPECT_NE(Listed.find("\n2\tIvan\t"), std::string::npos) << Listed;
  std::string Shown = Show(*Base, 2);
  for (const char* Line : {"\nJamHdrOffset\t", "\nJamReplyTo\t1\n", "\nJamReply1st\t0\n", "\nJamSubfield\t0\t2:5020/1\n",
                           "\nJamSubfield\t6\tsecond\n", "\nJamSubfield\t2000\tX-EVIL: ^[[2J\n"})
    EXPECT_NE(Shown.find(Line), std::string::npos) << Line << " in\n" << Shown;
  EXPECT_NE(Show(*Base, 1).find("\nJamHdrOffset\t1024\n"), std::string::npos);
  EXPECT_EQ(Shown.find('\x1b'), std::string::npos);
}

class KelvutilCorpusTest : public testing::tCrashmailTest {};

TEST_F(KelvutilCorpusTest, EchomailIsListedFromItsOriginLines) {
  auto Base = OpenFolder(Node / "echo");
  std::vector<std::string> Senders;
  std::string Listed = List(*Base);
  for (size_t Start = 0, End; (End = Listed.find('\n', Start)) != std::string::npos; Start = End + 1) {
    std::vector<std::string> F = Fields(Listed.substr(Start, End - Start));
    ASSERT_EQ(F.size(), 7u) << Listed;
    Senders.push_back(F[1] + " " + F[2]);
  }
  EXPECT_EQ(Senders, (std::vector<std::string>{"Sysop 2:5020/1", "Point Three 2:5020/1.3"})) << Listed;
}

TEST_F(KelvutilCorpusTest, ShowMarksCompletedValuesAndPrintsTheSameEveryTime) {
  int NoMsgId = 0;
  for (const char* Folder : {"netmail", "echo"}) {
    for (const std::string& File : Node.Files(Folder)) {
      std::string Name = File.substr(File.rfind('/') + 1);
      int32_t N = std::stoi(Name);
      // Two runs of show: two bases, two reads.
      std::string First = Show(*OpenFolder(Node / Folder), N);
      std::string Second = Show(*OpenFolder(Node / Folder), N);
      EXPECT_EQ(First, Second) << Folder << " " << N;
      // The message that came without a MSGID shows a completed one.
      bool Made = First.find("\nMsgId\t") != std::string::npos &&
                  First.find("\t(completed)\n", First.find("\nMsgId\t")) < First.find("\nReplyId\t");
      if (First.find("From\tHand Made\n") != std::string::npos) {
        EXPECT_TRUE(Made) << First;
        ++NoMsgId;
      } else {
        EXPECT_FALSE(Made) << First;
      }
    }
  }
  EXPECT_EQ(NoMsgId, 1);
}

TEST(KelvutilTest, SquishBasesAreListedAndShownWithTheirLinks) {
  // A sample base of other software: message 4 (UMSGID 5) replies to
  // UMSGID 4, which was killed; message 42 (UMSGID 55) to UMSGID 54, which
  // is message 41.
  auto Base = OpenBase(std::string("S") + KELVANE_SQUISH_SAMPLES + "/net", smOpenRead);
  ASSERT_TRUE(Base);
  std::string Listed = List(*Base);
  EXPECT_EQ(std::count(Listed.begin(), Listed.end(), '\n'), 45);
  EXPECT_EQ(Fields(Listed.substr(0, Listed.find('\n')))[5], "Re: test 1 ");
  std::string Four = Show(*Base, 4), FortyTwo = Show(*Base, 42);
  for (const char* Line : {"\nSquishFrame\t2344\n", "\nSquishUmsgId\t5\n", "\nSquishReplyTo\t4\t0\n"})
    EXPECT_NE(Four.find(Line), std::string::npos) << Line;
  EXPECT_NE(FortyTwo.find("\nSquishReplyTo\t54\t41\n"), std::string::npos) << FortyTwo;
}

// A length in a base's file claims two gigabytes of a sparse file (a
// Squish frame and its control information, a JAM text): list and show
// read what is there, a block at a time, and print the message.
TEST(KelvutilTest, LengthsThatClaimGigabytesOfASparseFileAreReadInBlocks) {
  tRuntimeTempDir T;
  tMessage M;
  M.From = "Ivan";
  M.Subject = "huge";
  M.Pid = "pid";
  M.Text.WriteStr("Body\r");
  const uint32_t Huge = 0x7FFFF000;
  for (const char* Letter : {"S", "J"}) {
    std::string Id = Letter + T / "area";
    {
      auto Base = OpenBase(Id, 0);
      ASSERT_TRUE(Base && !Base->WriteMessage(1, &M)) << Id;
    }
    std::string Data = T / (Letter[0] == 'S' ? "area.sqd" : "area.jdt");
    std::fstream F(Letter[0] == 'S' ? Data : T / "area.jhr", std::ios::in | std::ios::out | std::ios::binary);
    uint8_t Len[4];
    PutU32(Len, Huge);
    if (Letter[0] == 'S') {
      F.seekp(SqBaseSize + sfMsgLength);
      F.write(reinterpret_cast<char*>(Len), 4);
      F.write(reinterpret_cast<char*>(Len), 4);  // sfCtrlLength
    } else {
      F.seekp(JamFixedHeaderSize + jhTxtLen);
      F.write(reinterpret_cast<char*>(Len), 4);
    }
    F.close();
    std::filesystem::resize_file(Data, uint64_t{Huge} + 4096);
    auto Base = OpenBase(Id, smOpenRead);
    ASSERT_TRUE(Base);
    EXPECT_EQ(Fields(List(*Base))[5], "huge") << Id;
    std::string Shown = Show(*Base, 1);
    EXPECT_NE(Shown.find("\nPid\tpid\n"), std::string::npos) << Shown;
    std::filesystem::remove(T / "area.sqd"), std::filesystem::remove(T / "area.sqi");
  }
}

}  // namespace
}  // namespace kelvane
