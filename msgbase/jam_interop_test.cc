// JAM bases and independent software, both ways: a base written by an
// independent library reads as that library's own dump says; bases that
// crashmail tossed (packets made by crashwrite) read with the right fields;
// a base we write is read by jamnntpd, an NNTP server for JAM bases, as a
// newsreader sees it, takes crashmail's tossing and maintenance run, and
// reads what jamnntpd and crashmail wrote into it. The programs are POSIX
// only: those tests skip where they cannot run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "msgbase/address.h"
#include "msgbase/baseid.h"
#include "msgbase/jam.h"
#include "msgbase/jam_test_util.h"
#include "msgbase/message.h"
#include "msgbase/test_corpus.h"
#include "msgbase/test_messages.h"
#include "msgbase/test_fs.h"
#include "msgbase/test_nntp.h"

namespace kelvane {
namespace {

using testing::UnescapeDump;

using testing::GetFile;
using testing::Letter;
using testing::Lines;
using testing::PutFile;
using testing::Serve;
using testing::tArticle;
using testing::tCrashmailNode;
using testing::tRuntimeTempDir;
using testing::U32At;

const std::string Cp866Word = "\x8f\xe0\xa8\xa2\xa5\xe2";  // "Привет"

std::string Words(const std::string& Text, int From) {
  std::istringstream In(Text);
  std::string W, Out;
  for (int I = 0; In >> W; ++I)
    if (I >= From) Out += (Out.empty() ? "" : " ") + W;
  return Out;
}

// --- The independent library's base and its own read-back -----------------

struct tDumped {
  int Number = 0;
  std::map<std::string, std::string> Field;  // from, to, subj, date, text...
  std::vector<std::string> Line;             // the header lines, whole
};

std::vector<tDumped> ReadDump(const std::string& File) {
  std::vector<tDumped> Out;
  std::istringstream In(GetFile(File));
  std::string L;
  while (std::getline(In, L)) {
    if (L.rfind("msg ", 0) == 0) {
      Out.emplace_back();
      Out.back().Number = std::stoi(L.substr(4));
      Out.back().Field["attr"] = L.substr(L.find("attr ") + 5);
    } else if (L.rfind(" ", 0) == 0 && !Out.empty()) {
      size_t Space = L.find(' ', 1);
      Out.back().Field[L.substr(1, Space - 1)] = UnescapeDump(Space == std::string::npos ? "" : L.substr(Space + 1));
      Out.back().Line.push_back(L.substr(1));
    }
  }
  return Out;
}

std::string Addr4(uint16_t Zone, uint16_t Net, uint16_t Node, uint16_t Point) {
  return std::to_string(Zone) + ":" + std::to_string(Net) + "/" + std::to_string(Node) + "." + std::to_string(Point);
}

std::string DateOf(const tDateTime& T) {
  char Buf[32];
  std::snprintf(Buf, sizeof Buf, "%04d-%02d-%02d %02d:%02d:%02d", static_cast<int>(T.Year), static_cast<int>(T.Month),
                static_cast<int>(T.Day), static_cast<int>(T.Hour), static_cast<int>(T.Min), static_cast<int>(T.Sec));
  return Buf;
}

TEST(JamSample, ReadsAsItsWriterReadsIt) {
  tRuntimeTempDir T;
  std::string Data = std::string(KELVANE_SOURCE_DIR) + "/tests/data/jam/";
  for (const char* Ext : {".jhr", ".jdt", ".jdx"}) PutFile(T / "net" + Ext, GetFile(Data + "net" + Ext));
  std::vector<tDumped> Dump = ReadDump(Data + "net.dump.txt");
  ASSERT_EQ(Dump.size(), 40u);
  auto Base = OpenBase(Letter('J', T / "net"), smOpenRead);
  ASSERT_TRUE(Base);
  ASSERT_EQ(Base->Count, 40);
  auto& Jam = static_cast<tJamBase&>(*Base);
  std::string Jdx = GetFile(T / "net.jdx");
  for (const tDumped& D : Dump) {
    SCOPED_TRACE("message " + std::to_string(D.Number));
    tMessage M;
    ASSERT_FALSE(Base->ReadThread(D.Number, &M));
    auto F = [&D](const char* Name) { return D.Field.at(Name); };
    EXPECT_EQ(M.From, F("from"));
    EXPECT_EQ(M.To, F("to"));
    EXPECT_EQ(M.Subject, F("subj"));
    EXPECT_EQ(Addr4(M.OrigZone, M.OrigNet, M.OrigNode, M.OrigPoint) + " " +
                  Addr4(M.DestZone, M.DestNet, M.DestNode, M.DestPoint),
              F("orig").substr(0, F("orig").find(' ')) + " " + Words(F("orig"), 2));
    // "date TEXT written DATE arrived DATE"
    std::string Date = F("date");
    EXPECT_EQ(M.DateStr, Date.substr(0, Date.find(" written")));
    EXPECT_EQ(DateOf(M.DateWritten), Date.substr(Date.find("written ") + 8, 19));
    EXPECT_EQ(DateOf(M.DateArrived), Date.substr(Date.find("arrived ") + 8, 19));
    // Its attribute word carries a bit of its own (0x20000: the id field
    // is valid); the rest are the FTS bits.
    EXPECT_EQ(M.Attr, std::stoul(F("attr"), nullptr, 16) & ~0x20000u);
    std::string Links = F("replyto");
    EXPECT_EQ(M.ReplyTo, std::stoi(Links));
    EXPECT_EQ(M.Replies[1], std::stoi(Words(Links, 2)));
    EXPECT_EQ(M.Replies[2], 0);
    // Its control lines are the INTL, FMPT and TOPT lines of the addresses
    // and the kludges, in an order of its own.
    std::vector<std::string> Want, Got;
    std::string Ctrl = F("ctrl");
    for (size_t I = 0; (I = Ctrl.find('\x01', I)) != std::string::npos;) {
      size_t Next = Ctrl.find('\x01', I + 1);
      Want.push_back(Ctrl.substr(I, Next - I));
      I = Next;
    }
    Got.push_back("\x01INTL " + M.Intl.ToStdString());
    if (M.OrigPoint) Got.push_back("\x01" "FMPT " + std::to_string(M.OrigPoint));
    if (M.DestPoint) Got.push_back("\x01" "TOPT " + std::to_string(M.DestPoint));
    Got.push_back("\x01MSGID: " + M.MsgId.ToStdString());
    if (!M.ReplyId.Empty()) Got.push_back("\x01REPLY: " + M.ReplyId.ToStdString());
    Got.push_back("\x01PID: " + M.Pid.ToStdString());
    for (const std::string& K : Lines(M.Kludges)) Got.push_back(K);
    std::sort(Want.begin(), Want.end());
    std::sort(Got.begin(), Got.end());
    EXPECT_EQ(Got, Want);
    EXPECT_EQ(M.HadMsgId, 1);
    // Its text ends with the trace as a Via line.
    std::string Text(M.Text.View());
    for (const std::string& R : Lines(M.RouteLines)) Text += R + "\r";
    EXPECT_EQ(Text, F("text"));
    // Its CRCs are ours.
    tJamRawMessage Raw;
    ASSERT_TRUE(Jam.ReadRaw(D.Number, Raw));
    EXPECT_EQ(U32At(Jdx, (D.Number - 1) * 8), JamCrc(M.To));
    EXPECT_EQ(GetU32(Raw.Header + jhMsgIdCrc), JamCrc(M.MsgId));
  }
}

// --- crashmail ---------------------------------------------------------------

class JamCrashmail : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!tCrashmailNode::Available()) GTEST_SKIP() << "crashmail and crashwrite are not here (POSIX only)";
  }
  // A message of a thread in ECHO.JAM, with MSGID and REPLY of its own.
  bool WriteEcho(int Serial, int ReplyTo, const std::string& Body, const std::string& From = "Writer") {
    std::string Kludges = "\x01MSGID: 2:5020/2 " + Id(Serial) + "\r";
    if (ReplyTo) Kludges += "\x01REPLY: 2:5020/2 " + Id(ReplyTo) + "\r";
    return Node.Write(Kludges + Body,
                      "FROMNAME '" + From + "' FROMADDR 2:5020/2 TONAME All TOADDR 2:5020/1 SUBJECT 'thread " +
                          std::to_string(Serial) + "' AREA ECHO.JAM ORIGIN 'Node Two' PKTFROMADDR 2:5020/2 "
                          "PKTTOADDR 2:5020/1 NOMSGID");
  }
  static std::string Id(int Serial) { return "aaaa000" + std::to_string(Serial); }
  std::string Maint() {
    Node.Run("crashmaint SETTINGS " + Node.Path() + "/prefs MAINT VERBOSE");
    return Node.Log();
  }

  tCrashmailNode Node{"2:5020/1", "2:5020/2", tCrashmailNode::naJam};
};

TEST_F(JamCrashmail, TossedMailReads) {
  ASSERT_TRUE(Node.WriteCorpus()) << Node.Log();
  ASSERT_TRUE(WriteEcho(1, 0, "Root " + Cp866Word + "\r\rsecond paragraph\r"));
  ASSERT_TRUE(WriteEcho(2, 1, "First answer\r"));
  ASSERT_TRUE(WriteEcho(3, 1, "Second answer\r"));
  ASSERT_TRUE(WriteEcho(4, 2, "Answer to the first\r", "\x88\xa2\xa0\xad"));
  ASSERT_TRUE(Node.Toss()) << Node.Log();

  // Netmail: the same messages the *.MSG tests read from a folder.
  auto Net = OpenBase(Letter('J', Node / "jam/netmail"), smOpenRead);
  ASSERT_TRUE(Net);
  ASSERT_EQ(Net->Count, 3) << Node.Log();
  int Seen = 0;
  tMessage M;
  for (int32_t N = 1; N <= Net->Count; ++N) {
    ASSERT_FALSE(Net->ReadMessage(N, &M)) << N;
    EXPECT_TRUE(M.Area.Empty());
    Seen += testing::ExpectCorpusNetmail(M);
    if (M.From == "Hand Made") {
      EXPECT_EQ(M.HadMsgId, 0);  // crashmail gave it no MSGID subfield
      EXPECT_EQ(M.Pid, "hand 1");
      // crashmail keeps FLAGS as a kludge subfield, not the FLAGS one:
      // it stays a kludge line, whole.
      EXPECT_EQ(Lines(M.Kludges), (std::vector<std::string>{"\x01" "FLAGS DIR XPVT"}));
      EXPECT_EQ(M.Text.View(), Cp866Word + " body\r");
    }
  }
  EXPECT_EQ(Seen, 3);

  // Echomail: a thread, linked by its MSGID and REPLY kludges.
  auto Echo = OpenBase(Letter('J', Node / "jam/echo"), 0);
  ASSERT_TRUE(Echo);
  ASSERT_EQ(Echo->Count, 4);
  std::map<std::string, int32_t> ByMsgId;
  for (int32_t N = 1; N <= 4; ++N) {
    ASSERT_FALSE(Echo->ReadMessage(N, &M)) << N;
    EXPECT_EQ(M.Subject, "thread " + std::to_string(N));
    EXPECT_EQ(M.MsgId, "2:5020/2 " + Id(N));
    EXPECT_EQ(OrigAddrStr(M), "2:5020/2");
    EXPECT_EQ(M.Origin, "Node Two ");
    // The area is linked to the sender and to the node's second link.
    EXPECT_EQ(Lines(M.SeenByLines), (std::vector<std::string>{"5020/1 2 4"}));
    EXPECT_EQ(Lines(M.PathLines), (std::vector<std::string>{"5020/1"}));
    EXPECT_TRUE(M.HasAttr(maSent));
    ByMsgId[M.MsgId.ToStdString()] = N;
  }
  ASSERT_FALSE(Echo->ReadMessage(1, &M));
  EXPECT_EQ(M.Text.View(), "Root " + Cp866Word + "\r\rsecond paragraph\r");
  ASSERT_FALSE(Echo->ReadMessage(4, &M));
  EXPECT_EQ(M.From, "\x88\xa2\xa0\xad");
  for (int32_t N = 2; N <= 4; ++N) {
    ASSERT_FALSE(Echo->ReadMessage(N, &M));
    Echo->LinkReply(ByMsgId.at(M.ReplyId.ToStdString()), N);
  }
  // More mail tossed into the linked base goes behind it; the links stay.
  ASSERT_TRUE(WriteEcho(5, 3, "Late answer\r"));
  ASSERT_TRUE(Node.Toss()) << Node.Log();
  Echo = OpenBase(Letter('J', Node / "jam/echo"), smOpenRead);
  ASSERT_EQ(Echo->Count, 5);
  ASSERT_FALSE(Echo->ReadThread(1, &M));
  EXPECT_EQ(std::vector<int32_t>(M.Replies + 1, M.Replies + 4), (std::vector<int32_t>{2, 3, 0}));
  ASSERT_FALSE(Echo->ReadThread(2, &M));
  EXPECT_EQ(M.ReplyTo, 1);
  EXPECT_EQ(M.Replies[1], 4);
  ASSERT_FALSE(Echo->ReadMessage(5, &M));
  EXPECT_EQ(M.Text.View(), "Late answer\r");
}

// A base we wrote: crashmail tosses into it and its maintenance run marks
// messages beyond KEEPNUM deleted, rewriting their headers (and mangling
// their fields as it does) and keeping their index records: those are
// gone for us too, the others read as before.
TEST_F(JamCrashmail, TossesIntoOurBaseAndMaintainsIt) {
  {
    auto Ours = OpenBase(Letter('J', Node / "jam/echo"), 0);
    ASSERT_TRUE(Ours);
    for (int N = 1; N <= 4; ++N) {
      tMessage M;
      M.From = "Our Writer";
      M.To = "All";
      M.Subject = tShortString("ours " + std::to_string(N));
      M.Area = "ECHO.JAM";
      M.OrigZone = 2, M.OrigNet = 5020, M.OrigNode = 1, M.OrigPoint = 0;
      M.DestZone = 2, M.DestNet = 5020, M.DestNode = 2, M.DestPoint = 0;
      M.MsgId = tShortString("2:5020/1 0000000" + std::to_string(N));
      M.DateWritten = tDateTime{2026, 12, N, 10, 0, 0};
      M.Text.WriteStr("Our text " + std::to_string(N) + " " + Cp866Word + "\r");
      M.Origin = "Our Node ";
      M.AddOrigin = 1;
      M.SeenByLines.Append("5020/1 2");
      ASSERT_FALSE(Ours->WriteMessage(N, &M));
    }
    Ours->LinkReply(1, 2);
    Ours->LinkReply(1, 3);
  }
  ASSERT_TRUE(WriteEcho(5, 0, "Tossed after ours\r"));
  ASSERT_TRUE(Node.Toss()) << Node.Log();
  auto Base = OpenBase(Letter('J', Node / "jam/echo"), smOpenRead);
  ASSERT_TRUE(Base);
  ASSERT_EQ(Base->Count, 5) << Node.Log();
  tMessage M;
  ASSERT_FALSE(Base->ReadMessage(5, &M));
  EXPECT_EQ(M.Subject, "thread 5");
  EXPECT_EQ(M.Text.View(), "Tossed after ours\r");
  Base.reset();

  Node.AddPrefs("KEEPNUM 3");
  std::string Log = Maint();
  std::string Ours = Log.substr(Log.find("Processing ECHO.JAM"));
  EXPECT_NE(Ours.find("messages deleted"), std::string::npos) << Ours;
  EXPECT_EQ(Ours.find("Failed"), std::string::npos) << Ours;
  Base = OpenBase(Letter('J', Node / "jam/echo"), smOpenRead);
  ASSERT_TRUE(Base);
  int Deleted = 0;
  for (int32_t N = 1; N <= 5; ++N) {
    tJamRawMessage Raw;
    ASSERT_TRUE(static_cast<tJamBase&>(*Base).ReadRaw(N, Raw));
    if (GetU32(Raw.Header + jhAttribute) & jaDeleted) {  // gone: neither there nor read
      ++Deleted;
      EXPECT_FALSE(Base->Exists(N) || !Base->ReadMessage(N, &M)) << N;
      continue;
    }
    ASSERT_FALSE(Base->ReadMessage(N, &M)) << N;
    EXPECT_EQ(M.Subject, N < 5 ? "ours " + std::to_string(N) : std::string("thread 5")) << N;
    EXPECT_EQ(M.Text.View(), N < 5 ? "Our text " + std::to_string(N) + " " + Cp866Word + "\r"
                                   : std::string("Tossed after ours\r"));
  }
  EXPECT_GE(Deleted, 1);
}

// --- jamnntpd --------------------------------------------------------------

// A base we write, served by jamnntpd: names, addresses, subjects, bodies,
// time zones and threads (References from our reply links) as a
// newsreader gets them.
// Then a newsreader posts, jamnntpd writes the message into our base (with
// its SubfieldLen too large on 64-bit systems), and we read it.
//
// jamnntpd's 64-bit build reads the index in 16-byte steps, so it shows
// every other message (and would overwrite the last index record of a base
// with an odd count when posting: this base holds an even count). Articles
// are therefore matched to messages by subject, not by number.
TEST(JamNntp, ANewsreaderReadsOurBaseAndPostsIntoIt) {
  if (!testing::ProgramsInstalled({"jamnntpd", "python3"})) GTEST_SKIP() << "jamnntpd or python3 is not here (POSIX only)";
  tRuntimeTempDir T;
  std::string Path = T / "echo";
  struct tEntry {
    const char* From;
    const char* Subject;
    int32_t ReplyTo;
  };
  const tEntry Thread[] = {{"Ivan Petrov", "Root", 0},        {"Point Five", "Re: Root", 1},
                           {"Sysop", "Re: Root again", 1},     {"Ivan Petrov", "Re: Re: Root", 2},
                           {"Another One", "New topic", 0},    {"Point Five", "Re: again", 3},
                           {"Sysop", "Re: New topic", 5},      {"Ivan Petrov", "Last", 0}};
  {
    auto Base = OpenBase(Letter('J', Path), 0);
    ASSERT_TRUE(Base);
    int32_t N = 0;
    for (const tEntry& E : Thread) {
      tMessage M;
      M.From = E.From;
      M.To = "All";
      M.Subject = E.Subject;
      M.Area = "TEST.ECHO";
      M.OrigZone = 2, M.OrigNet = 5020, M.OrigNode = 1, M.OrigPoint = static_cast<uint16_t>(++N);
      M.DestZone = 2, M.DestNet = 5020, M.DestNode = 0, M.DestPoint = 0;
      M.MsgId = tShortString("2:5020/1." + std::to_string(N) + " 1000000" + std::to_string(N));
      M.DateWritten = tDateTime{2026, 12, 7, 19, 5, N};
      M.Text.WriteStr(std::string("Body of ") + E.Subject + "\r" + Cp866Word + " line two\r");
      M.TearLine = " kelvane";
      M.AddTearLine = 1;
      M.Kludges.Append("\x01" "TZUTC: 0300");
      ASSERT_FALSE(Base->WriteMessage(N, &M));
      if (E.ReplyTo) Base->LinkReply(E.ReplyTo, N);
    }
  }
  PutFile(T / "post.txt", "From: Poster <poster@example.org>\r\nNewsgroups: TEST.ECHO\r\nSubject: Posted here\r\n"
                          "References: <1$TEST.ECHO@JamNNTPd>\r\n\r\nPosted line one\r\nPosted line two\r\n");
  std::vector<tArticle> Articles = Serve(T, "TEST.ECHO", Path, T / "post.txt");
  ASSERT_GE(Articles.size(), 4u) << GetFile(T / "nntp.log");
  int Matched = 0;
  for (const tArticle& A : Articles) {
    auto Find = [&A](const std::string& H) { return A.Header.count(H) ? A.Header.at(H) : std::string("(none)"); };
    int32_t N = 0;
    for (int32_t K = 0; K < 8; ++K)
      if (Find("Subject") == Thread[K].Subject) N = K + 1;
    if (N == 0) continue;  // the posted article
    ++Matched;
    const tEntry& E = Thread[N - 1];
    SCOPED_TRACE(E.Subject);
    EXPECT_EQ(Find("From").substr(0, Find("From").find('<')), "\"" + std::string(E.From) + " -> All\" ");
    EXPECT_EQ(Find("X-JAM-From"), std::string(E.From) + " <2:5020/1." + std::to_string(N) + ">");
    EXPECT_EQ(Find("X-JAM-MSGID"), "2:5020/1." + std::to_string(N) + " 1000000" + std::to_string(N));
    EXPECT_EQ(Find("X-JAM-Attributes"), "TypeEcho");
    EXPECT_EQ(Find("X-JAM-TZUTCINFO"), "0300");  // the time zone in its own subfield
    EXPECT_EQ(A.Body, "Body of " + std::string(E.Subject) + "\n" + Cp866Word + " line two\n--- kelvane");
    EXPECT_EQ(Find("References"), E.ReplyTo ? "<" + std::to_string(E.ReplyTo) + "$TEST.ECHO@JamNNTPd>" : "(none)");
  }
  EXPECT_EQ(Matched, static_cast<int>(Articles.size() >= 8 ? 8 : 4));

  auto Base = OpenBase(Letter('J', Path), smOpenRead);
  ASSERT_TRUE(Base);
  ASSERT_EQ(Base->Count, 9);
  for (int32_t N = 1; N <= 8; ++N) {
    tMessage M;
    ASSERT_FALSE(Base->ReadMessage(N, &M)) << N;
    EXPECT_EQ(M.Subject, Thread[N - 1].Subject);
  }
  tJamRawMessage Raw;
  ASSERT_TRUE(static_cast<tJamBase&>(*Base).ReadRaw(9, Raw));
  tMessage M;
  ASSERT_FALSE(Base->ReadMessage(9, &M));
  EXPECT_EQ(M.From, "Poster");
  EXPECT_EQ(M.Subject, "Posted here");
  EXPECT_EQ(M.Text.View(), "Posted line one\rPosted line two\r\r");  // then its tear and origin lines
  EXPECT_EQ(M.AddTearLine, 1);
  EXPECT_EQ(M.ReplyId, "2:5020/1.1 10000001");
  EXPECT_EQ(M.ReplyTo, 1);
  EXPECT_EQ(OrigAddrStr(M), "2:5020/1");
  EXPECT_EQ(Lines(M.Kludges)[0], "\x01" "REPLYADDR poster@example.org");
}

}  // namespace
}  // namespace kelvane
