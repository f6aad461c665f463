// Test support: a FidoNet node run by crashmail, an independent tosser, in
// a temporary folder. crashwrite makes a packet of each message, crashmail
// tosses them into *.MSG netmail and echo folders (the corpus: real files
// from other software, which the library must read and write again
// faithfully) and exports the netmail it finds there. POSIX only: the
// Win32 build has no crashmail, and the tests that need it skip.
#ifndef KELVANE_MSGBASE_TEST_CORPUS_H_
#define KELVANE_MSGBASE_TEST_CORPUS_H_

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "msgbase/address.h"
#include "msgbase/message.h"
#include "runtime/test_dir.h"

namespace kelvane::testing {

// True when every program named can run here; never in the Win32 build,
// which runs none of them.
inline bool ProgramsInstalled(std::initializer_list<const char*> Names) {
#ifdef _WIN32
  (void)Names;
  return false;
#else
  std::string Command = "true";
  for (const char* Name : Names) Command += std::string(" && command -v ") + Name + " >/dev/null 2>&1";
  return std::system(Command.c_str()) == 0;
#endif
}

class tCrashmailNode {
 public:
  // True when crashmail and crashwrite can run here.
  static bool Available() { return ProgramsInstalled({"crashmail", "crashwrite"}); }

  // Where the node keeps its netmail and whether it has a JAM echo area.
  enum tAreas {
    naMsg,  // netmail in the folder netmail
    naJam,  // netmail in the JAM base jam/netmail, and crashmail links the
            // replies it tosses into JAM areas (JAM_LINK)
  };

  // A node whose addresses are Own and Own.3, with one link, Link, to which
  // the netmail for Link and its points is routed, and a second link,
  // SecureLink, whose packets must carry the password SecurePassword.
  // Folders: in, out, netmail (area NETMAIL), echo (area ECHO.ONE, linked
  // to Link), jam (the JAM area ECHO.JAM, base jam/echo, linked to both, the
  // last area), bad, and made, which keeps every packet crashwrite made.
  static constexpr const char* SecureLink = "2:5020/4";
  static constexpr const char* SecurePassword = "SECRET";
  explicit tCrashmailNode(const std::string& Own = "2:5020/1", const std::string& Link = "2:5020/2",
                          tAreas Areas = naMsg) {
    for (const char* D : {"in", "out", "tmp", "netmail", "echo", "bad", "jam", "made"})
      std::filesystem::create_directory(T / D);
    std::string P = T.Path();
    std::string Netmail = Areas == naJam ? "JAM \"" + P + "/jam/netmail\"" : "MSG \"" + P + "/netmail\"";
    PutFile(T / "prefs",
            "SYSOP \"Test Sysop\"\nLOGFILE \"" + P + "/log\"\nLOGLEVEL 6\nDUPEFILE \"" + P +
                "/dupes\" 200\nDUPEMODE IGNORE\nDEFAULTZONE 2\nIMPORTSEENBY\nINBOUND \"" + P + "/in\"\nOUTBOUND \"" + P +
                "/out\"\nTEMPDIR \"" + P + "/tmp\"\nCREATEPKTDIR \"" + P + "/tmp\"\nPACKETDIR \"" + P +
                "/out\"\nSTATSFILE \"" + P + "/stats\"\nAKA " + Own + "\nDOMAIN \"fidonet\"\nAKA " + Own +
                ".3\nDOMAIN \"fidonet\"\nNODE " + Link + " \"\" \"\"\nROUTE \"" + Link + ".*\" \"" + Link + "\" " +
                Own + "\nNETMAIL \"NETMAIL\" " + Own + " " + Netmail + "\nAREA \"BAD\" " + Own + " MSG \"" + P +
                "/bad\"\nAREA \"ECHO.ONE\" " + Own + " MSG \"" + P + "/echo\"\nEXPORT " + Link + "\nNODE " + SecureLink +
                " \"\" \"" + SecurePassword + "\"\n" + (Areas == naJam ? "JAM_LINK\n" : "") + "AREA \"ECHO.JAM\" " + Own +
                " JAM \"" + P + "/jam/echo\"\nEXPORT " + Link + " " + SecureLink + "\n");
  }

  // Appends a line to the settings.
  void AddPrefs(const std::string& Line) const { PutFile(T / "prefs", GetFile(T / "prefs") + Line + "\n"); }

  std::string Path() const { return T.Path(); }
  std::string operator/(const std::string& Name) const { return T / Name; }

  // Runs a shell command, its output going to run.log; its exit code.
  int Run(const std::string& Command) const {
    return std::system((Command + " >>" + T.Path() + "/run.log 2>&1").c_str());
  }

  // A packet of one message in the inbound, kept in made as crashwrite
  // wrote it: Text is the message text (CR ends lines), Args the rest of
  // crashwrite's arguments (FROMNAME ...).
  bool Write(const std::string& Text, const std::string& Args) {
    std::string File = T / ("text" + std::to_string(++Texts_));
    PutFile(File, Text);
    std::vector<std::string> Before = Files("made");
    if (Run("crashwrite DIR " + T.Path() + "/made TEXT " + File + " " + Args) != 0) return false;
    for (const std::string& Made : Files("made"))
      if (std::find(Before.begin(), Before.end(), Made) == Before.end())
        std::filesystem::copy_file(Made, T / ("in/" + std::filesystem::path(Made).filename().string()));
    return true;
  }
  bool Toss() const { return Run("crashmail SETTINGS " + T.Path() + "/prefs TOSS") == 0; }
  bool Scan() const { return Run("crashmail SETTINGS " + T.Path() + "/prefs SCAN") == 0; }
  std::string Log() const { return GetFile(T / "run.log") + GetFile(T / "log"); }

  // The files of a folder of the node, in name order.
  std::vector<std::string> Files(const std::string& Folder) const {
    std::vector<std::string> Out;
    for (const auto& E : std::filesystem::directory_iterator(T / Folder))
      if (E.is_regular_file()) Out.push_back(E.path().string());
    std::sort(Out.begin(), Out.end());
    return Out;
  }

  // Writes and tosses the corpus (node 2:5020/1 with link 2:5020/2):
  // netmail from a point to a point with a CP866 subject and a CHRS line,
  // from another zone, and one without MSGID that brings kludges of its
  // own; echomail from 2:5020/1 and from its point 2:5020/1.3, one of them
  // with LF line ends (crashwrite makes them CR), stored by crashmail with
  // net 0 and node 0 in the header.
  bool WriteCorpus() {
    bool Ok = Write("\x01" "CHRS: CP866 2\rHello line one\r\rsecond line\r--- their tear\r",
                    "FROMNAME 'Ivan Petrov' FROMADDR 2:5020/2.7 TONAME 'Test Sysop' TOADDR 2:5020/1.3 "
                    "SUBJECT $(printf '\\217\\340\\250\\242\\245\\342')") &&
              Write("Cross-zone body\r",
                    "FROMNAME 'John Smith' FROMADDR 1:234/5 TONAME 'Test Sysop' TOADDR 2:5020/1 "
                    "SUBJECT 'From zone one'") &&
              Write("\x01" "PID: hand 1\r\x01" "FLAGS DIR XPVT\r\x8f\xe0\xa8\xa2\xa5\xe2 body\r",
                    "FROMNAME 'Hand Made' FROMADDR 2:5020/2 TONAME 'Test Sysop' TOADDR 2:5020/1 "
                    "SUBJECT 'no msgid' NOMSGID") &&
              Write("Hello echo\r\rline two\r",
                    "FROMNAME 'Sysop' FROMADDR 2:5020/1 TONAME 'All' TOADDR 2:5020/1 SUBJECT 'echo one' "
                    "AREA ECHO.ONE ORIGIN 'Node One' PKTFROMADDR 2:5020/2 PKTTOADDR 2:5020/1") &&
              Write("LF line one\nLF line two\n\x8f\xe0\xa8\xa2\xa5\xe2\n",
                    "FROMNAME 'Point Three' FROMADDR 2:5020/1.3 TONAME 'All' TOADDR 2:5020/1 SUBJECT '' "
                    "AREA ECHO.ONE ORIGIN 'Pointland' PKTFROMADDR 2:5020/2 PKTTOADDR 2:5020/1");
    return Ok && Toss();
  }

 private:
  tRuntimeTempDir T;
  int Texts_ = 0;
};

// Checks a netmail message of the corpus (tCrashmailNode::WriteCorpus) as
// the reader of any format must give it back. False for a sender the
// corpus does not hold. The message without a MSGID ("Hand Made") is left
// to the caller: each format keeps its FLAGS kludge in its own way.
inline bool ExpectCorpusNetmail(const tMessage& M) {
  EXPECT_EQ(M.To, "Test Sysop");
  if (M.From == "Ivan Petrov") {
    EXPECT_EQ(M.Subject, "\x8f\xe0\xa8\xa2\xa5\xe2");
    EXPECT_EQ(OrigAddrStr(M), "2:5020/2.7");
    EXPECT_EQ(DestAddrStr(M), "2:5020/1.3");
    EXPECT_TRUE(M.MsgId.StartsWith("2:5020/2.7 ")) << M.MsgId.View();
    EXPECT_EQ(M.Intl, "2:5020/1 2:5020/2");
    EXPECT_EQ(M.Kludges.Count(), 1u);
    if (!M.Kludges.Empty()) {
      EXPECT_EQ(M.Kludges[0], "\x01" "CHRS: CP866 2");
    }
    EXPECT_EQ(M.Text.View(), "Hello line one\r\rsecond line\r");
    EXPECT_EQ(M.TearLine, " their tear");
    return true;
  }
  if (M.From == "John Smith") {
    EXPECT_EQ(M.Subject, "From zone one");
    EXPECT_EQ(OrigAddrStr(M), "1:234/5");
    EXPECT_EQ(DestAddrStr(M), "2:5020/1");
    EXPECT_EQ(M.Text.View(), "Cross-zone body\r");
    return true;
  }
  return M.From == "Hand Made";
}

// A test that needs crashmail (skipped where it cannot run), on a node that
// holds the corpus when WithCorpus says so.
class tCrashmailTest : public ::testing::Test {
 protected:
  explicit tCrashmailTest(bool WithCorpus = true) : WithCorpus_(WithCorpus) {}
  void SetUp() override {
    if (!tCrashmailNode::Available()) GTEST_SKIP() << "crashmail and crashwrite are not here (POSIX only)";
    if (WithCorpus_) {
      ASSERT_TRUE(Node.WriteCorpus()) << Node.Log();
    }
  }
  tCrashmailNode Node;

 private:
  bool WithCorpus_;
};

}  // namespace kelvane::testing

#endif  // KELVANE_MSGBASE_TEST_CORPUS_H_
