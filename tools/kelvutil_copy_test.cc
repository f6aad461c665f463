// kelvutil copy through every pair of formats on real bases: those
// crashmail tossed (netmail and echomail in *.MSG folders and JAM bases,
// the packets crashwrite made) and those an independent library wrote
// (Squish and JAM). Each message read back from the copy is compared with
// the one read from the source: every part that differs must be on copy's
// line for that message and be a limit of the destination's format, and
// copy reports nothing that did not differ. A copy taken back into the
// source's format differs from the source only where the first copy said,
// and keeps each message's kind (echomail given its area with --area where
// it went through a base that is the area) and its TZUTC.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "msgbase/baseid.h"
#include "msgbase/jam.h"
#include "msgbase/jam_test_util.h"
#include "msgbase/message.h"
#include "msgbase/message_compare.h"
#include "msgbase/msgbase.h"
#include "msgbase/test_corpus.h"
#include "msgbase/test_fs.h"
#include "msgbase/test_nntp.h"
#include "runtime/test_dir.h"
#include "tools/kelvutil.h"
#include "tools/test_kelvutil.h"

namespace kelvane {
namespace {

using testing::Command;
using testing::GetFile;
using testing::Letter;
using testing::Lines;
using testing::PutFile;
using testing::tCrashmailNode;
using testing::tRun;
using testing::tRuntimeTempDir;

using tParts = std::set<std::string>;

// A new base of each format under Dir, its name ending in Name.
std::string NewBase(tBaseKind Kind, const tRuntimeTempDir& Dir, const std::string& Name) {
  switch (Kind) {
    case bkMsgDir: return Letter('F', Dir / Name);
    case bkSquish: return Letter('S', Dir / Name);
    case bkJam: return Letter('J', Dir / Name);
    default: return Letter('P', Dir / (Name + ".pkt"));
  }
}

// One copy as copy told it: per message of SRC, its number in DST and the
// parts it said were lost.
struct tCopied {
  std::map<int32_t, std::pair<int32_t, tParts>> Messages;
  std::vector<std::string> Summary;  // "copied ..." and the "lost" lines
};

tCopied RunCopy(const std::string& Src, const std::string& Dst, tBaseKind DstKind, const std::string& Area = "") {
  std::vector<std::string> Args{"copy", Src, Dst};
  if (DstKind == bkPacket) Args.insert(Args.end(), {"--pkt-from", "2:5020/1", "--pkt-to", "2:5020/2"});
  if (!Area.empty()) Args.insert(Args.end(), {"--area", Area});
  tRun R = Command(RunCopyCommand, Args);
  EXPECT_EQ(R.Code, 0) << R.Out << R.Err;
  tCopied C;
  for (const std::string& L : Lines(R.Out)) {
    std::vector<std::string> F;
    for (size_t S = 0, E = 0; E != std::string::npos; S = E + 1) F.push_back(L.substr(S, (E = L.find('\t', S)) - S));
    if (F.size() < 2 || F[0] == "lost" || F[1] == "not read" || F[1] == "not written" ||
        F[1] == "deleted, not copied") {
      C.Summary.push_back(L);
      continue;
    }
    auto& Parts = C.Messages[std::stoi(F[0])] = {std::stoi(F[1]), {}};
    for (size_t I = 2; I < F.size(); ++I) Parts.second.insert(F[I].substr(0, F[I].find(':')));
  }
  return C;
}

// The parts in which Back differs from Sent; each must be a limit of
// Kind's format, and one that keeps a length must have cut at it.
tParts Differences(const tMessage& Sent, const tMessage& Back, tBaseKind Kind) {
  std::vector<tPartChange> Changes;
  CompareMessages(Sent, Back, Changes);
  tParts Out;
  for (const tPartChange& C : Changes) {
    Out.insert(MessagePartName(C.Part));
    const char* Limit = FormatLimit(Kind, C.Part);
    EXPECT_TRUE(Limit) << FormatName(Kind) << " has no limit for " << MessagePartName(C.Part) << ": " << C.Detail;
    std::string Keeps = Limit ? Limit : "";
    if (Keeps.rfind("keeps ", 0) == 0 && Keeps.find(" characters") != std::string::npos) {
      EXPECT_EQ(C.Detail.rfind("cut to " + Keeps.substr(6, Keeps.find(' ', 6) - 6) + " of ", 0), 0u)
          << MessagePartName(C.Part) << ": " << C.Detail;
    }
  }
  return Out;
}

// Copies Src into a new base of every format, checks each copy against the
// source as above, and takes it back into a new base of Src's format.
void CopyEveryWay(const std::string& Src) {
  tBaseKind SrcKind = bkNone;
  tShortString SrcPath;
  ASSERT_FALSE(SplitBaseId(Src, SrcKind, SrcPath));
  auto From = OpenBase(Src, smOpenRead);
  ASSERT_TRUE(From) << Src;
  std::vector<int32_t> Numbers = MessageNumbers(*From);
  ASSERT_FALSE(Numbers.empty()) << Src;
  tMessage A, B, Again;
  // Echomail is given its area where a base that records areas or kinds
  // (a packet, JAM) takes it from one that does not.
  ASSERT_FALSE(From->ReadMessage(Numbers[0], &A));
  std::string Tag = KindOf(A) != mkEchomail ? "" : A.Area.Empty() ? "ECHO.TEST" : A.Area.ToStdString();
  auto Tz = [](const tMessage& M) {
    for (const std::string& K : Lines(M.Kludges))
      if (K.rfind("\x01TZUTC:", 0) == 0) return K;
    return std::string();
  };
  for (tBaseKind Kind : {bkMsgDir, bkSquish, bkJam, bkPacket}) {
    SCOPED_TRACE(std::string("into ") + FormatName(Kind));
    tRuntimeTempDir T;
    std::string Dst = NewBase(Kind, T, "dst"), Home = NewBase(SrcKind, T, "back");
    bool Records = SrcKind == bkJam || SrcKind == bkPacket;
    tCopied There = RunCopy(Src, Dst, Kind, Kind == bkPacket ? Tag : ""),
            Back = RunCopy(Dst, Home, SrcKind, Records ? Tag : "");
    // Links compared as the numbers of the messages they name in the copy
    // (0: none there); a link to a message that did not come along is one
    // copy reports.
    auto Numbered = [](tMessage& M, tMsgBase& Base, tBaseKind K, const tCopied* Through, bool& Dropped) {
      if (K == bkPacket) return;
      MapLinks(M, [&](int32_t V) {
        int32_t N = LinkedNumber(Base, K, V);
        if (!Through) return N;
        auto It = Through->Messages.find(N);
        Dropped |= It == Through->Messages.end();
        return It == Through->Messages.end() ? 0 : It->second.first;
      });
    };
    std::string Count = std::to_string(Numbers.size());
    ASSERT_FALSE(There.Summary.empty());
    EXPECT_EQ(There.Summary[0], "copied " + Count + " of " + Count + " messages");
    for (size_t I = 1; I < There.Summary.size(); ++I)
      EXPECT_EQ(There.Summary[I].find("not a known limit"), std::string::npos) << There.Summary[I];
    ASSERT_EQ(There.Messages.size(), Numbers.size());
    tRun Checked = Command(RunCheckCommand, {"check", Dst, Home});
    EXPECT_EQ(Checked.Code, 0) << Checked.Out;  // what copy writes checks clean, in every format
    auto To = OpenBase(Dst, smOpenRead), Home2 = OpenBase(Home, smOpenRead);
    ASSERT_TRUE(To && Home2);
    for (int32_t N : Numbers) {
      SCOPED_TRACE("message " + std::to_string(N));
      auto& [M, Reported] = There.Messages[N];
      ASSERT_FALSE(From->ReadMessage(N, &A));
      ASSERT_FALSE(To->ReadMessage(M, &B));
      bool Dropped = false, Unused = false;
      if (Kind != bkPacket) {  // a packet keeps none: copy reports them as they are
        Numbered(A, *From, SrcKind, &There, Dropped);
        Numbered(B, *To, Kind, nullptr, Unused);
      }
      tParts Want = Differences(A, B, Kind);
      if (Dropped) Want.insert("Links");
      if (SrcKind == bkJam) {
        const tJamBase::tReadLosses& L = static_cast<tJamBase&>(*From).Losses();
        if (!L.Skipped.empty() || !L.Cut.empty()) Want.insert("Subfields");
        if (L.TextCut) Want.insert("Text");
      }
      EXPECT_EQ(Want, Reported);
      EXPECT_EQ(Tz(B), Tz(A));
      // Back home, what differs from the source is what one of the two
      // copies reported.
      ASSERT_TRUE(Back.Messages.count(M));
      auto& [K, ReportedBack] = Back.Messages[M];
      ASSERT_FALSE(Home2->ReadMessage(K, &Again));
      // A's links, numbers in DST by now, to the numbers back home.
      if (Kind != bkPacket)
        MapLinks(A, [&Back](int32_t X) { return Back.Messages.count(X) ? Back.Messages[X].first : 0; });
      Numbered(Again, *Home2, SrcKind, nullptr, Unused);
      EXPECT_EQ(Again.Kind, A.Kind);
      EXPECT_EQ(Tz(Again), Tz(A));
      std::vector<tPartChange> Changes;
      CompareMessages(A, Again, Changes);
      for (const tPartChange& C : Changes)
        EXPECT_TRUE(Reported.count(MessagePartName(C.Part)) || ReportedBack.count(MessagePartName(C.Part)))
            << "lost on the way back unreported: " << MessagePartName(C.Part) << ": " << C.Detail;
    }
  }
}

// The independent library's base Name ("squish/net", "jam/net") put into
// T: its identifier there.
std::string Sample(const tRuntimeTempDir& T, const std::string& Name) {
  std::string Data = std::string(KELVANE_SOURCE_DIR) + "/tests/data/" + Name;
  bool Squish = Name[0] == 's';
  for (const char* Ext : Squish ? std::vector<const char*>{".sqd", ".sqi"} : std::vector<const char*>{".jhr", ".jdt", ".jdx"})
    PutFile(T / "net" + Ext, GetFile(Data + Ext));
  return Letter(Squish ? 'S' : 'J', T / "net");
}

TEST(KelvutilCopyRoundTrip, SamplesOfAnIndependentLibrary) {
  for (const char* Name : {"squish/net", "jam/net"}) {
    SCOPED_TRACE(Name);
    tRuntimeTempDir T;
    CopyEveryWay(Sample(T, Name));
  }
}

// A JAM header may hold what no field of a message takes: a subfield id
// the library does not know, a file name without the file-attach
// attribute; data longer than a field holds is cut there, and a text whose
// TxtLen runs past .jdt is read as far as the next text. copy names them;
// none is lost unseen.
TEST(KelvutilCopyRoundTrip, JamSubfieldsNoFieldHoldsAreTold) {
  tRuntimeTempDir T;
  testing::tJamImage Jam;
  Jam.Add({{sfOAddress, "2:5020/1"}, {sfDAddress, "2:5020/2"}, {sfSenderName, "Ivan"}, {sfReceiverName, "Olga"},
           {sfSubject, "hi " + std::string(300, 's')}, {2004, "0300"},
           {sfFtsKludge, "X-LONG: " + std::string(300, 'x')}, {sfEnclosedFile, "notes.zip"}, {9000, "?"}},
          "text\r", [](std::string& H) { testing::SetU32(H, jhTxtLen, 100); });
  Jam.Add({{sfOAddress, "2:5020/2"}, {sfDAddress, "2:5020/1"}, {sfSenderName, "Olga"}, {sfReceiverName, "Ivan"},
           {sfSubject, "re: hi"}},
          "more\r");
  testing::WriteJamFiles(T / "src", {Jam.Jhr, Jam.Jdt, Jam.Jdx});
  tRun R = Command(RunCopyCommand, {"copy", Letter('J', T / "src"), Letter('J', T / "dst")});
  EXPECT_EQ(R.Code, 0) << R.Err;
  EXPECT_EQ(Lines(R.Out), (std::vector<std::string>{
                              "1\t1\tSubfields: not read (9 9000)\tSubfields: cut to 255 characters (6 2000)\t"
                              "Text: cut in SRC to 5 of 100 bytes (it runs past the end of .jdt)",
                              "2\t2", "copied 2 of 2 messages",
                              "lost\tSubfields\t1\tJAM subfields of SRC that no message field holds (kelvutil show lists them)",
                              "lost\tSubfields\t1\tJAM subfields of SRC longer than the 255 characters a message field holds",
                              "lost\tText\t1\tJAM texts of SRC that run past the end of .jdt"}));
  tRun Shown = Command(RunShowCommand, {"show", Letter('J', T / "src"), "1"});
  EXPECT_NE(Shown.Out.find("\nJamTextCut\t5 of 100 bytes: the text runs past the end of .jdt\n"), std::string::npos)
      << Shown.Out;
}

// Into a base that holds other messages, and only a range: each link
// names, in the copy, the message it named in the source (the same
// MSGID), and a link to one left behind is reported.
TEST(KelvutilCopyRoundTrip, LinksFollowTheirMessagesToTheirNewNumbers) {
  tRuntimeTempDir T;
  std::string Src = Sample(T, "jam/net");
  for (tBaseKind Kind : {bkSquish, bkJam, bkMsgDir}) {
    SCOPED_TRACE(FormatName(Kind));
    std::string Dst = NewBase(Kind, T, std::string("dst") + FormatName(Kind)[1]);
    ASSERT_EQ(Command(RunCopyCommand, {"copy", Src, Dst, "1", "3"}).Code, 0);
    tRun R = Command(RunCopyCommand, {"copy", Src, Dst, "10"});
    ASSERT_EQ(R.Code, 0) << R.Err;
    auto From = OpenBase(Src, smOpenRead), To = OpenBase(Dst, smOpenRead);
    ASSERT_TRUE(From && To);
    int Linked = 0, Dropped = 0;
    tMessage A, B, Named;
    auto IdOf = [&Named](tMsgBase& Base, tBaseKind K, int32_t V) {
      int32_t N = LinkedNumber(Base, K, V);
      return N && !Base.ReadMessage(N, &Named) ? Named.MsgId.ToStdString() : std::string("none");
    };
    for (const std::string& L : Lines(R.Out)) {
      size_t Tab = L.find('\t');
      if (L.rfind("lost", 0) == 0 || L.rfind("copied", 0) == 0) continue;
      int32_t N = std::stoi(L), M = std::stoi(L.substr(Tab + 1));
      ASSERT_FALSE(From->ReadMessage(N, &A));
      ASSERT_FALSE(To->ReadMessage(M, &B));
      bool Left = (A.ReplyTo && A.ReplyTo < 10) || (A.Replies[1] && A.Replies[1] < 10);
      EXPECT_EQ(L.find("Links: not kept (to message"), Left ? L.find("\tLinks") + 1 : std::string::npos) << L;
      Dropped += Left;
      struct {
        int32_t Sent, Back;
        const char* Lost;  // the part when the format does not keep it
      } Pairs[] = {{A.ReplyTo, B.ReplyTo, "\tReplyTo: "}, {A.Replies[1], B.Replies[1], "\tReply: "}};
      for (auto [SentLink, BackLink, Lost] : Pairs) {
        if (!SentLink || SentLink < 10 || L.find(Lost) != std::string::npos) continue;
        EXPECT_EQ(IdOf(*To, Kind, BackLink), IdOf(*From, bkJam, SentLink)) << L;
        ++Linked;
      }
    }
    EXPECT_GT(Linked, 5);
    EXPECT_GT(Dropped, 0);
    EXPECT_EQ(Lines(R.Out).back().find("lost\tLinks\t" + std::to_string(Dropped) + "\t"), 0u) << R.Out;
  }
}

// crashmail's node with its netmail in JAM, the corpus and a thread in
// the JAM echo area (crashmail links the replies).
class KelvutilCopyCrashmail : public testing::tCrashmailTest {
 protected:
  KelvutilCopyCrashmail() : tCrashmailTest(false) {}
  tCrashmailNode Jam{"2:5020/1", "2:5020/2", tCrashmailNode::naJam};

  // The corpus tossed into Jam, and a thread of four in its JAM echo area.
  void FillJam() {
    ASSERT_TRUE(Jam.WriteCorpus()) << Jam.Log();
    for (int I = 1; I <= 4; ++I) {
      std::string Kludges = "\x01MSGID: 2:5020/2 0000000" + std::to_string(I) + "\r";
      if (I > 1) Kludges += "\x01REPLY: 2:5020/2 0000000" + std::to_string(I / 2) + "\r";
      ASSERT_TRUE(Jam.Write(Kludges + "\x01" "TZUTC: 0300\r\x01" "CHRS: CP866 2\rThread text " + std::to_string(I) + "\r",
                            "FROMNAME 'Writer " + std::to_string(I) + "' FROMADDR 2:5020/2 TONAME All TOADDR 2:5020/1 "
                            "SUBJECT 'thread' AREA ECHO.JAM ORIGIN 'Node Two' PKTFROMADDR 2:5020/2 "
                            "PKTTOADDR 2:5020/1 NOMSGID"));
    }
    ASSERT_TRUE(Jam.Toss()) << Jam.Log();
  }
};

TEST_F(KelvutilCopyCrashmail, TossedBasesAndPackets) {
  ASSERT_TRUE(Node.WriteCorpus()) << Node.Log();
  ASSERT_NO_FATAL_FAILURE(FillJam());
  std::vector<std::string> Sources{Letter('F', Node / "netmail"), Letter('F', Node / "echo"),
                                   Letter('J', Jam / "jam/netmail"), Letter('J', Jam / "jam/echo")};
  for (const std::string& Packet : Jam.Files("made")) Sources.push_back(Letter('P', Packet));
  for (const std::string& Src : Sources) {
    SCOPED_TRACE(Src);
    CopyEveryWay(Src);
  }
}

// Packets copy makes from the JAM bases, from the secure link with its
// password, tossed by crashmail into a node of its own: the netmail into
// its netmail folder, the echomail (given its area) into the JAM area, with
// the names, addresses, kludges and text they had.
TEST_F(KelvutilCopyCrashmail, CrashmailTossesPacketsCopiedFromJam) {
  ASSERT_NO_FATAL_FAILURE(FillJam());
  std::vector<std::string> Pkt{"--pkt-from", tCrashmailNode::SecureLink, "--pkt-to", "2:5020/1", "--password",
                               tCrashmailNode::SecurePassword};
  auto Copy = [&](const std::string& Src, const std::string& Dst, std::vector<std::string> More) {
    std::vector<std::string> Args{"copy", Src, Dst};
    Args.insert(Args.end(), Pkt.begin(), Pkt.end());
    Args.insert(Args.end(), More.begin(), More.end());
    tRun R = Command(RunCopyCommand, Args);
    EXPECT_EQ(R.Code, 0) << R.Out << R.Err;
  };
  Copy(Letter('J', Jam / "jam/netmail"), Letter('P', Node / "in/0000000a.pkt"), {});
  Copy(Letter('J', Jam / "jam/echo"), Letter('P', Node / "in/0000000b.pkt"), {"--area", "ECHO.JAM"});
  ASSERT_TRUE(Node.Toss()) << Node.Log();
  EXPECT_TRUE(Node.Files("in").empty()) << Node.Log();
  EXPECT_TRUE(Node.Files("bad").empty()) << Node.Log();

  auto Net = OpenBase(Letter('F', Node / "netmail"), smOpenRead);
  ASSERT_TRUE(Net);
  int Netmail = 0;
  tMessage M, Sent;
  for (int32_t N : MessageNumbers(*Net)) {
    ASSERT_FALSE(Net->ReadMessage(N, &M));
    EXPECT_TRUE(testing::ExpectCorpusNetmail(M)) << M.From.View();
    ++Netmail;
  }
  EXPECT_EQ(Netmail, 3) << Node.Log();

  auto From = OpenBase(Letter('J', Jam / "jam/echo"), smOpenRead), To = OpenBase(Letter('J', Node / "jam/echo"), smOpenRead);
  ASSERT_TRUE(From && To);
  ASSERT_EQ(To->Count, From->Count) << Node.Log();
  for (int32_t N = 1; N <= From->Count; ++N) {
    SCOPED_TRACE(N);
    ASSERT_FALSE(From->ReadMessage(N, &Sent));
    ASSERT_FALSE(To->ReadMessage(N, &M));
    EXPECT_EQ(M.From, Sent.From);
    EXPECT_EQ(M.To, "All");
    EXPECT_EQ(M.Subject, "thread");
    EXPECT_EQ(OrigAddrStr(M), "2:5020/2");
    EXPECT_EQ(M.MsgId, Sent.MsgId);
    EXPECT_EQ(M.ReplyId, Sent.ReplyId);
    EXPECT_EQ(Lines(M.Kludges), (std::vector<std::string>{"\x01" "TZUTC: 0300", "\x01" "CHRS: CP866 2"}));
    EXPECT_EQ(M.Text.View(), Sent.Text.View());
    EXPECT_EQ(M.TearLine, Sent.TearLine);
    EXPECT_EQ(M.Origin, "Node Two ");
  }
}

// Echomail from a point in crashmail's JAM area, and netmail from it, after
// crashmail's maintenance has marked messages beyond KEEPNUM deleted: list
// shows the others only, copy tells each deleted one and copies the
// others, show still shows one as it stands. FMPT goes with the netmail
// only, into every format that writes kludge lines.
TEST_F(KelvutilCopyCrashmail, AfterCrashmailsMaintenance) {
  for (int I = 1; I <= 6; ++I)
    ASSERT_TRUE(Jam.Write("Echo text\r", "FROMNAME 'Point " + std::to_string(I) + "' FROMADDR 2:5020/2.5 TONAME All "
                          "TOADDR 2:5020/1 SUBJECT echo AREA ECHO.JAM PKTFROMADDR 2:5020/2 PKTTOADDR 2:5020/1"));
  ASSERT_TRUE(Jam.Write("Net text\r", "FROMNAME Point FROMADDR 2:5020/2.5 TONAME Sysop TOADDR 2:5020/1 SUBJECT net"));
  ASSERT_TRUE(Jam.Toss()) << Jam.Log();
  Jam.AddPrefs("KEEPNUM 3");
  ASSERT_EQ(Jam.Run("crashmaint SETTINGS " + Jam.Path() + "/prefs MAINT VERBOSE"), 0);
  // What is gone is what the headers say (the log names more than crashmail
  // marks, depending on the sizes of the headers).
  const std::string Src = Letter('J', Jam / "jam/echo");
  std::set<std::string> Gone, Listed, Kept;
  tJamBase Base;
  ASSERT_FALSE(Base.Open(Jam / "jam/echo", smOpenRead));
  for (int32_t N = 1; N <= 6; ++N) (Base.IsMarkedDeleted(N) ? Gone : Kept).insert(std::to_string(N));
  ASSERT_FALSE(Gone.empty()) << Jam.Log();
  for (const std::string& L : Lines(Command(RunListCommand, {"list", Src}).Out)) Listed.insert(L.substr(0, L.find('\t')));
  EXPECT_EQ(Listed, Kept);
  EXPECT_NE(Command(RunShowCommand, {"show", Src, *Gone.begin()}).Out.find(" deleted\n"), std::string::npos);
  tRuntimeTempDir T;
  for (const std::string& Dst : {Letter('F', T / "msg"), Letter('S', T / "sq"), Letter('P', T / "out.pkt")}) {
    std::vector<std::string> Args{"copy", Src, Dst};
    if (Dst[0] == 'P') Args.insert(Args.end(), {"--pkt-from", "2:5020/1", "--pkt-to", "2:5020/3", "--area", "E"});
    tRun R = Command(RunCopyCommand, Args);
    for (const std::string& N : Gone) EXPECT_NE(R.Out.find(N + "\tdeleted, not copied\n"), std::string::npos) << R.Out;
    EXPECT_NE(R.Out.find("copied " + std::to_string(Kept.size()) + " of " + std::to_string(Kept.size())), std::string::npos);
    ASSERT_EQ(Command(RunCopyCommand, {"copy", Letter('J', Jam / "jam/netmail"), Dst}).Code, 0);
  }
  // FMPT in the three copies of the netmail, none in the echomail.
  std::string Written;
  for (const auto& E : std::filesystem::recursive_directory_iterator(T.Path()))
    if (E.is_regular_file()) Written += GetFile(E.path().string());
  size_t Fmpt = 0;
  for (size_t At = 0; (At = Written.find("\x01" "FMPT 5", At)) != std::string::npos; ++At) ++Fmpt;
  EXPECT_EQ(Fmpt, 3u);
}

// A *.MSG folder with a thread in it (numbers with gaps, each reply named
// by the message it answers), copied into JAM and read by jamnntpd as a
// newsreader gets it: names, subjects, bodies, and References where the
// folder had reply links.
TEST(KelvutilCopyNntp, JamnntpdReadsAJamBaseCopiedFromMsg) {
  if (!testing::ProgramsInstalled({"jamnntpd", "python3"})) GTEST_SKIP() << "jamnntpd or python3 is not here (POSIX only)";
  tRuntimeTempDir T;
  struct {
    int32_t Number;
    const char* From;
    const char* Subject;
    int32_t Reply;  // the number of its reply in the folder
    int32_t Parent;  // the number in JAM of the message it answers
  } Thread[] = {{2, "Ivan Petrov", "Root", 5, 0}, {5, "Point Five", "Re: Root", 7, 1}, {7, "Sysop", "Re: Re: Root", 0, 2},
                {9, "Another One", "New topic", 0, 0}};
  {
    auto Folder = OpenBase(Letter('F', T / "msg"), 0);
    ASSERT_TRUE(Folder);
    for (const auto& E : Thread) {
      tMessage M;
      M.From = E.From;
      M.To = "All";
      M.Subject = E.Subject;
      M.OrigZone = 2, M.OrigNet = 5020, M.OrigNode = 1, M.OrigPoint = static_cast<uint16_t>(E.Number);
      M.DestZone = 2, M.DestNet = 5020, M.DestNode = 1, M.DestPoint = 0;
      M.MsgId = tShortString("2:5020/1." + std::to_string(E.Number) + " 1000000" + std::to_string(E.Number));
      M.DateWritten = tDateTime{2026, 12, 7, 19, 5, E.Number};
      M.Replies[1] = E.Reply;
      M.Text.WriteStr(std::string("Body of ") + E.Subject + "\r\x8f\xe0\xa8\xa2\xa5\xe2 line two\r");
      ASSERT_FALSE(Folder->WriteMessage(E.Number, &M));
    }
  }
  tRun R = Command(RunCopyCommand, {"copy", Letter('F', T / "msg"), Letter('J', T / "echo")});
  ASSERT_EQ(R.Code, 0) << R.Out << R.Err;
  std::vector<testing::tArticle> Articles = testing::Serve(T, "TEST.ECHO", T / "echo");
  // jamnntpd's 64-bit build reads the index in 16-byte steps and shows
  // every other message: articles are matched by subject.
  ASSERT_GE(Articles.size(), 2u) << GetFile(T / "nntp.log");
  int Matched = 0;
  for (const testing::tArticle& A : Articles) {
    auto Find = [&A](const std::string& H) { return A.Header.count(H) ? A.Header.at(H) : std::string("(none)"); };
    for (const auto& E : Thread) {
      if (Find("Subject") != E.Subject) continue;
      SCOPED_TRACE(E.Subject);
      ++Matched;
      EXPECT_EQ(Find("X-JAM-From"), std::string(E.From) + " <2:5020/1." + std::to_string(E.Number) + ">");
      EXPECT_EQ(Find("X-JAM-MSGID"), "2:5020/1." + std::to_string(E.Number) + " 1000000" + std::to_string(E.Number));
      EXPECT_EQ(A.Body, "Body of " + std::string(E.Subject) + "\n\x8f\xe0\xa8\xa2\xa5\xe2 line two");
      EXPECT_EQ(Find("References"), E.Parent ? "<" + std::to_string(E.Parent) + "$TEST.ECHO@JamNNTPd>" : "(none)");
    }
  }
  EXPECT_EQ(Matched, static_cast<int>(Articles.size()));
}

}  // namespace
}  // namespace kelvane
