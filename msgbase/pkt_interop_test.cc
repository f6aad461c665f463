// Packets between us and crashmail, both ways. Every packet crashwrite
// makes reads with its header's addresses and password and with the message
// crashwrite was given; a packet we write is tossed by crashmail into its
// netmail, *.MSG and JAM areas with the names, addresses, kludges and text
// we gave it (the *.MSG files read with our reader, the JAM base with a
// small reader of its own below); and crashmail refuses our packet with a
// wrong password as it refuses crashwrite's.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "msgbase/address.h"
#include "msgbase/baseid.h"
#include "msgbase/message.h"
#include "msgbase/msgdir.h"
#include "msgbase/pkt.h"
#include "msgbase/test_corpus.h"
#include "msgbase/test_fs.h"
#include "runtime/coding.h"

namespace kelvane {
namespace {

using testing::GetFile;
using testing::Letter;
using testing::tCrashmailNode;

const std::string Cp866 = "\x8f\xe0\xa8\xa2\xa5\xe2";  // a word in Russian

// The messages of a JAM base as its files hold them: the subfields by
// their number, and the text.
struct tJamMessage {
  std::map<uint16_t, std::vector<std::string>> Fields;
  std::string Text;
  std::string Field(uint16_t Id) const {
    auto It = Fields.find(Id);
    return It == Fields.end() || It->second.empty() ? std::string() : It->second[0];
  }
};
enum : uint16_t { jfOrigAddr = 0, jfDestAddr = 1, jfFrom = 2, jfTo = 3, jfMsgId = 4, jfSubject = 6, jfPid = 7,
                  jfKludge = 2000, jfSeenBy = 2001, jfPath = 2002 };

std::vector<tJamMessage> ReadJamBase(const std::string& Base) {
  std::string Headers = GetFile(Base + ".jhr"), Texts = GetFile(Base + ".jdt");
  auto At = [&Headers](size_t P) { return reinterpret_cast<const uint8_t*>(Headers.data()) + P; };
  std::vector<tJamMessage> Out;
  // A 1024-byte base header, then for each message a 76-byte header
  // ("JAM" and a NUL first) and its subfields (16-bit number, 16-bit
  // reserved, 32-bit length, data).
  size_t P = 1024;
  while (P + 76 <= Headers.size() && Headers.compare(P, 4, std::string("JAM\0", 4)) == 0) {
    size_t End = std::min(Headers.size(), P + 76 + GetU32(At(P + 8)));
    uint32_t TextAt = GetU32(At(P + 60)), TextLength = GetU32(At(P + 64));
    tJamMessage M;
    for (size_t S = P + 76; S + 8 <= End;) {
      uint32_t Length = GetU32(At(S + 4));
      if (S + 8 + Length > End) break;
      M.Fields[GetU16(At(S))].push_back(Headers.substr(S + 8, Length));
      S += 8 + Length;
    }
    if (uint64_t{TextAt} + TextLength <= Texts.size()) M.Text = Texts.substr(TextAt, TextLength);
    Out.push_back(M);
    P = End;
  }
  return Out;
}

// The messages of a *.MSG folder, in number order.
std::vector<std::unique_ptr<tMessage>> ReadFolder(const std::string& Folder) {
  std::vector<std::unique_ptr<tMessage>> Out;
  auto Base = OpenBase(Letter('F', Folder), smOpenRead);
  if (!Base) return Out;
  for (int32_t N : static_cast<tMsgDirBase&>(*Base).Numbers()) {
    auto M = std::make_unique<tMessage>();
    if (Base->Exists(N) && !Base->ReadMessage(N, M.get())) Out.push_back(std::move(M));
  }
  return Out;
}

std::vector<std::string> Lines(const tStringList& L) {
  std::vector<std::string> Out;
  for (const tShortString& S : L) Out.push_back(S.ToStdString());
  return Out;
}

class PktCorpus : public testing::tCrashmailTest {};

TEST_F(PktCorpus, CrashwritePacketsReadWithTheirHeadersAndMessages) {
  // Beside the corpus: a file attach, transit netmail for a point of the
  // link, text with CR LF breaks, and a packet with a password.
  ASSERT_TRUE(Node.Write("Files for you\r", "FROMNAME 'Ivan Petrov' FROMADDR 2:5020/2 TONAME 'Test Sysop' "
                                            "TOADDR 2:5020/1 SUBJECT 'files.zip' FILEATTACH"));
  ASSERT_TRUE(Node.Write("Passing through\r", "FROMNAME 'Far Away' FROMADDR 2:5020/9 TONAME 'Point Seven' "
                                              "TOADDR 2:5020/2.7 SUBJECT transit PKTFROMADDR 2:5020/9 "
                                              "PKTTOADDR 2:5020/1"));
  ASSERT_TRUE(Node.Write("CRLF one\r\nCRLF two\r\n", "FROMNAME 'Crlf Writer' FROMADDR 2:5020/2 TONAME 'Test Sysop' "
                                                    "TOADDR 2:5020/1 SUBJECT crlf"));
  ASSERT_TRUE(Node.Write("Secured\r", "FROMNAME 'Secure Link' FROMADDR 2:5020/4 TONAME 'Test Sysop' TOADDR 2:5020/1 "
                                      "SUBJECT secured PASSWORD SECRET"));
  const struct {
    const char* PktFrom;
    const char* PktTo;
    const char* Password;
    std::string From, FromAddr, To, ToAddr, Subject, Area;
    uint32_t Attr;  // bits that must be set
    std::string Text;
  } Want[] = {
      {"2:5020/2.7", "2:5020/1.3", "", "Ivan Petrov", "2:5020/2.7", "Test Sysop", "2:5020/1.3", Cp866, "", maPrivate,
       "Hello line one\r\rsecond line\r"},
      {"1:234/5", "2:5020/1", "", "John Smith", "1:234/5", "Test Sysop", "2:5020/1", "From zone one", "", maPrivate,
       "Cross-zone body\r"},
      {"2:5020/2", "2:5020/1", "", "Hand Made", "2:5020/2", "Test Sysop", "2:5020/1", "no msgid", "", maPrivate,
       Cp866 + " body\r"},
      {"2:5020/2", "2:5020/1", "", "Sysop", "2:5020/1", "All", "2:5020/1", "echo one", "ECHO.ONE", 0,
       "Hello echo\r\rline two\r"},
      {"2:5020/2", "2:5020/1", "", "Point Three", "2:5020/1.3", "All", "2:5020/1", "", "ECHO.ONE", 0,
       "LF line one\rLF line two\r" + Cp866 + "\r"},
      {"2:5020/2", "2:5020/1", "", "Ivan Petrov", "2:5020/2", "Test Sysop", "2:5020/1", "files.zip", "",
       maPrivate | maFileAttached, "Files for you\r"},
      {"2:5020/9", "2:5020/1", "", "Far Away", "2:5020/9", "Point Seven", "2:5020/2.7", "transit", "", maPrivate,
       "Passing through\r"},
      {"2:5020/2", "2:5020/1", "", "Crlf Writer", "2:5020/2", "Test Sysop", "2:5020/1", "crlf", "", maPrivate,
       "CRLF one\rCRLF two\r"},
      {"2:5020/4", "2:5020/1", "SECRET", "Secure Link", "2:5020/4", "Test Sysop", "2:5020/1", "secured", "",
       maPrivate, "Secured\r"},
  };
  std::vector<std::string> Made = Node.Files("made");
  ASSERT_EQ(Made.size(), std::size(Want));
  for (size_t I = 0; I < Made.size(); ++I) {
    const auto& W = Want[I];
    auto Base = OpenBase(Letter('P', Made[I]), smOpenRead);
    ASSERT_TRUE(Base) << Made[I];
    EXPECT_EQ(Base->GetOrigAddr(), W.PktFrom) << I;
    EXPECT_EQ(Base->GetDestAddr(), W.PktTo) << I;
    EXPECT_EQ(Base->GetPassword(), W.Password) << I;
    ASSERT_EQ(Base->Count, 1) << I;
    tMessage M;
    ASSERT_FALSE(Base->ReadMessage(1, &M)) << I;
    EXPECT_EQ(M.From, W.From) << I;
    EXPECT_EQ(OrigAddrStr(M), W.FromAddr) << I;
    EXPECT_EQ(M.To, W.To) << I;
    EXPECT_EQ(DestAddrStr(M), W.ToAddr) << I;
    EXPECT_EQ(M.Subject, W.Subject) << I;
    EXPECT_EQ(M.Area, W.Area) << I;
    EXPECT_EQ(M.Attr & W.Attr, W.Attr) << I;
    EXPECT_EQ(M.Text.View(), W.Text) << I;
    // crashwrite gives every message its MSGID, unless told not to.
    EXPECT_EQ(M.HadMsgId, I != 2) << I;
    if (I != 2) {
      EXPECT_TRUE(M.MsgId.StartsWith(tShortString(W.FromAddr))) << M.MsgId.View();
    }
    // crashwrite signs echomail with its tear line.
    if (I == 0) {
      EXPECT_EQ(M.TearLine, " their tear");
    } else {
      EXPECT_EQ(M.TearLine.StartsWith(" CrashWrite"), !W.Area.empty()) << I;
    }
  }
}

// A packet of ours, from the link to the node: two netmails (to the node
// and to its point) and two echomails (into the *.MSG area and the JAM
// area), in CP866, with kludges and control lines of every kind.
class PktToCrashmail : public testing::tCrashmailTest {
 protected:
  PktToCrashmail() : tCrashmailTest(false) {}

  static void Netmail(tMessage& M, uint16_t DestPoint) {
    testing::FillNetmail(M);  // from 2:5020/2.7
    M.DestPoint = DestPoint;
    M.Intl = "2:5020/1 2:5020/2";
    M.ReplyId.Clear();
    M.SeenByLines.Clear();
    M.PathLines.Clear();
    M.Subject = tShortString(Cp866 + " to point " + std::to_string(DestPoint));
    M.Text.Clear();
    M.Text.WriteStr(Cp866 + " netmail body\r\rsecond paragraph\r");
  }
  static void Echomail(tMessage& M, const char* Area, const char* Serial) {
    M.Clear();
    M.From = tShortString(Cp866 + " Writer");
    M.To = "All";
    M.Subject = tShortString(std::string("echo in ") + Area);
    M.Area = Area;
    M.DateWritten = tDateTime{2026, 12, 9, 10, 11, 12};
    M.OrigZone = 2, M.OrigNet = 5020, M.OrigNode = 2, M.OrigPoint = 0;
    M.DestZone = 2, M.DestNet = 5020, M.DestNode = 1, M.DestPoint = 0;
    M.MsgId = tShortString(std::string("2:5020/2 ") + Serial);
    M.Pid = "kelvane 1";
    M.Kludges.Append("\x01" "CHRS: CP866 2");
    M.Text.WriteStr(Cp866 + " echo body\r\rline three\r");
    M.TearLine = " kelvane";
    M.AddTearLine = 1;
    M.Origin = "Link Station ";
    M.AddOrigin = 1;
    M.SeenByLines.Append("5020/2");
    M.PathLines.Append("5020/2");
  }

  // Writes the messages into a new packet in the inbound.
  void PutPacket(const std::string& Name, const std::string& From, const std::string& Password,
                 std::vector<tMessage*> Messages) {
    tPktBase Pkt;
    Pkt.SetOrigAddr(From);
    Pkt.SetDestAddr("2:5020/1");
    Pkt.SetPassword(Password);
    ASSERT_FALSE(Pkt.Create(Node / ("in/" + Name), 0));
    for (tMessage* M : Messages) ASSERT_FALSE(Pkt.WriteMessage(0, M));
  }
};

TEST_F(PktToCrashmail, OurPacketIsTossedIntoEveryKindOfArea) {
  tMessage ToNode, ToPoint, EchoMsg, EchoJam;
  Netmail(ToNode, 0);
  Netmail(ToPoint, 3);
  // Longer than a packet carries: cut, or crashmail would refuse the packet.
  ToPoint.From = tShortString(std::string(40, 'F'));
  ToPoint.Subject = tShortString(std::string(80, 's'));
  Echomail(EchoMsg, "ECHO.ONE", "0000e001");
  Echomail(EchoJam, "ECHO.JAM", "0000e002");
  PutPacket("0000cafe.pkt", "2:5020/2", "", {&ToNode, &ToPoint, &EchoMsg, &EchoJam});
  ASSERT_TRUE(Node.Toss()) << Node.Log();
  EXPECT_TRUE(Node.Files("in").empty()) << Node.Log();
  EXPECT_TRUE(Node.Files("bad").empty()) << Node.Log();

  // Netmail: *.MSG files of our own reader, every line as we gave it.
  auto Net = ReadFolder(Node / "netmail");
  ASSERT_EQ(Net.size(), 2u) << Node.Log();
  for (size_t I = 0; I < 2; ++I) {
    const tMessage& Sent = I == 0 ? ToNode : ToPoint;
    const tMessage& Got = *Net[I];
    EXPECT_EQ(Got.From, Sent.From.Sub(0, 35));
    EXPECT_EQ(Got.To, Sent.To);
    EXPECT_EQ(Got.Subject, Sent.Subject.Sub(0, 71));
    EXPECT_EQ(Got.DateStr, Sent.DateStr);
    EXPECT_EQ(OrigAddrStr(Got), "2:5020/2.7");
    EXPECT_EQ(DestAddrStr(Got), I == 0 ? "2:5020/1" : "2:5020/1.3");
    EXPECT_EQ(Got.Intl, Sent.Intl);
    EXPECT_EQ(Got.MsgId, Sent.MsgId);
    EXPECT_EQ(Got.Pid, Sent.Pid);
    EXPECT_EQ(Got.Tid, Sent.Tid);
    EXPECT_EQ(Got.Flags, Sent.Flags);
    EXPECT_EQ(Lines(Got.Kludges), Lines(Sent.Kludges));
    EXPECT_EQ(Got.Text.View(), Sent.Text.View());
    EXPECT_EQ(Got.TearLine, Sent.TearLine);
    EXPECT_EQ(Got.Origin, Sent.Origin);
    EXPECT_EQ(Lines(Got.RouteLines), Lines(Sent.RouteLines));
    EXPECT_EQ(Got.Attr & maPrivate, maPrivate);
  }

  // Echomail into *.MSG: the area's folder, crashmail's own node added to
  // the SEEN-BY and PATH lines (net 5020 written once).
  auto Echo = ReadFolder(Node / "echo");
  ASSERT_EQ(Echo.size(), 1u) << Node.Log();
  const tMessage& E = *Echo[0];
  EXPECT_EQ(E.From, EchoMsg.From);
  EXPECT_EQ(E.To, "All");
  EXPECT_EQ(E.Subject, "echo in ECHO.ONE");
  EXPECT_EQ(E.MsgId, EchoMsg.MsgId);
  EXPECT_EQ(E.Pid, EchoMsg.Pid);
  EXPECT_EQ(Lines(E.Kludges), Lines(EchoMsg.Kludges));
  EXPECT_EQ(E.Text.View(), EchoMsg.Text.View());
  EXPECT_EQ(E.TearLine, " kelvane");
  EXPECT_EQ(E.Origin, "Link Station ");
  EXPECT_EQ(OrigAddrStr(E), "2:5020/2");
  EXPECT_EQ(Lines(E.SeenByLines), std::vector<std::string>{"5020/1 2"});
  EXPECT_EQ(Lines(E.PathLines), std::vector<std::string>{"5020/2 1"});

  // Echomail into JAM, read straight from the base's files.
  std::vector<tJamMessage> Jam = ReadJamBase(Node / "jam/echo");
  ASSERT_EQ(Jam.size(), 1u) << Node.Log();
  const tJamMessage& J = Jam[0];
  EXPECT_EQ(J.Field(jfFrom), EchoJam.From.ToStdString());
  EXPECT_EQ(J.Field(jfTo), "All");
  EXPECT_EQ(J.Field(jfSubject), "echo in ECHO.JAM");
  EXPECT_EQ(J.Field(jfMsgId), "2:5020/2 0000e002");
  EXPECT_EQ(J.Field(jfPid), "kelvane 1");
  EXPECT_EQ(J.Field(jfOrigAddr), "2:5020/2");
  std::vector<std::string> Kludges = J.Fields.count(jfKludge) ? J.Fields.at(jfKludge) : std::vector<std::string>();
  EXPECT_NE(std::find(Kludges.begin(), Kludges.end(), "CHRS: CP866 2"), Kludges.end()) << J.Text;
  EXPECT_EQ(J.Text, std::string(EchoJam.Text.View()) + "--- kelvane\r * Origin: Link Station (2:5020/2)\r");
}

// One message in a packet from the link that wants a password, with the
// given one: tossed, or refused whole.
TEST_F(PktToCrashmail, AWrongPasswordIsRefusedAsCrashmailRefusesIt) {
  const struct {
    const char* Password;
    bool Tossed;
  } Cases[] = {{"WRONG", false}, {"", false}, {"SECRET", true}};
  int Expected = 0;
  for (const auto& C : Cases) {
    for (bool Ours : {true, false}) {
      if (Ours) {
        tMessage M;
        Netmail(M, 0);
        M.Subject = tShortString(std::string("ours with ") + C.Password);
        PutPacket("0000beef.pkt", tCrashmailNode::SecureLink, C.Password, {&M});
      } else {
        std::string Args = std::string("FROMNAME 'Ivan' FROMADDR ") + tCrashmailNode::SecureLink +
                           " TONAME 'Test Sysop' TOADDR 2:5020/1 SUBJECT 'theirs'";
        if (*C.Password) Args += std::string(" PASSWORD ") + C.Password;
        ASSERT_TRUE(Node.Write("by crashwrite\r", Args));
      }
      ASSERT_TRUE(Node.Toss()) << Node.Log();
      Expected += C.Tossed;
      EXPECT_EQ(ReadFolder(Node / "netmail").size(), static_cast<size_t>(Expected)) << C.Password << Ours;
      // A refused packet stays in the inbound, renamed to .bad.
      std::vector<std::string> Left = Node.Files("in");
      EXPECT_EQ(Left.size(), C.Tossed ? 0u : 1u) << C.Password << Ours << Node.Log();
      for (const std::string& F : Left) {
        EXPECT_EQ(F.substr(F.size() - 4), ".bad");
        std::filesystem::remove(F);
      }
    }
  }
}

}  // namespace
}  // namespace kelvane
