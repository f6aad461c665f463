// kelvutil's commands run as the program runs them, their output caught:
// arguments read as bare paths or type letters, text as UTF-8 or bytes,
// fecfg for a sysop, copy with what did not fit, check with the offset of
// each fault (and never a write), and plan against a node laid out here.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "msgbase/baseid.h"
#include "msgbase/message.h"
#include "msgbase/msgbase.h"
#include "msgbase/test_corpus.h"
#include "msgbase/test_fs.h"
#include "runtime/coding.h"
#include "runtime/file_system.h"
#include "runtime/path.h"
#include "runtime/stream.h"
#include "runtime/test_dir.h"
#include "tools/fegen_lib.h"
#include "tools/kelvutil.h"
#include "tools/test_kelvutil.h"

namespace kelvane {
namespace {

using testing::Command;
using testing::GetFile;
using testing::Lines;
using testing::PutFile;
using testing::tRun;
using testing::tRuntimeTempDir;
namespace fs = std::filesystem;
using namespace std::string_literals;

// Every file under Dir with its bytes.
std::map<std::string, std::string> Snapshot(const std::string& Dir) {
  std::map<std::string, std::string> Files;
  for (const auto& E : fs::recursive_directory_iterator(Dir))
    if (E.is_regular_file()) Files[E.path().string()] = GetFile(E.path().string());
  return Files;
}

// The current directory for the life of the object.
class tInDir {
 public:
  explicit tInDir(const std::string& Dir) : Old_(fs::current_path()) { fs::current_path(Dir); }
  ~tInDir() { fs::current_path(Old_); }

 private:
  fs::path Old_;
};

// A stored message: header fields and a text, laid out by hand.
std::string MsgFile(std::string_view From, std::string_view Subject, std::string_view Text) {
  uint8_t H[190] = {};
  PutTextField(H + 0, 36, From, 36);
  PutTextField(H + 36, 36, "Sysop", 35);
  PutTextField(H + 72, 72, Subject, 72);
  PutTextField(H + 144, 20, "07 Dec 26  19:05:08", 19);
  PutU16(H + 168, 2);
  PutU16(H + 172, 5020);
  PutU16(H + 166, 1);
  PutU16(H + 174, 5020);
  return std::string(reinterpret_cast<char*>(H), 190) + std::string(Text);
}

TEST(KelvutilArguments, WhatStandsIsABarePathTypedByItsExtension) {
  tRuntimeTempDir T;
  tInDir In(T.Path());
  auto P = [](std::string Dir, const char* Name) { return Dir + PathSeparator + Name; };
  fs::create_directories("jam");
  fs::create_directories("Fido");
  PutFile(P("jam", "echo.jhr"), "");
  PutFile("notes.txt", "");
  struct {
    std::string Arg, Id;
  } Cases[] = {
      {P("jam", "echo.jhr"), "!" + P("jam", "echo.jhr")},  // not J + "am/echo.jhr"
      {"Fido", "#Fido"},                                   // not F + "ido"
      {P("jam", "new.jhr"), "!" + P("jam", "new.jhr")},    // a base to be made where its folder is
      {P("JAM", "x.jhr"), "!" + P("JAM", "x.jhr")},        // folders are found in any case
      {P("jam", "new"), P("jam", "new")},                  // no extension: letter and path
      {P("Jxx", "x.jhr"), P("Jxx", "x.jhr")},              // no folder either way: as typed
      {P("Sbases", "echo"), P("Sbases", "echo")},
      {"notes.txt", ""},  // there, but no format
  };
  for (const auto& C : Cases) EXPECT_EQ(BaseIdOfArgument(C.Arg), C.Id) << C.Arg;
  tRun R = Command(RunListCommand, {"list", "notes.txt"});
  EXPECT_EQ(R.Code, 1);
  EXPECT_NE(R.Err.find("its extension names no format"), std::string::npos) << R.Err;
  R = Command(RunListCommand, {"list", P("jam", "echo.jhr")});
  EXPECT_EQ(R.Err, "kelvutil list: cannot open the base !" + P("jam", "echo.jhr") + "\n");  // an empty file
}

TEST(KelvutilText, Cp866IsShownAsUtf8OrKeptAsBytes) {
  tTextOut Bytes, Utf8;
  Utf8.Utf8 = true;
  for (tTextOut* T : {&Bytes, &Utf8}) T->Record({"\x8f\xe0\xa8\xa2\xa5\xe2 \xfe", "a\tb\x1b[2J"});
  EXPECT_EQ(Bytes.Text(), "\x8f\xe0\xa8\xa2\xa5\xe2 \xfe\ta^Ib^[[2J\n");
  EXPECT_EQ(Utf8.Text(), "\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82 \xe2\x96\xa0\ta^Ib^[[2J\n");  // "Привет ■"

  struct {
    const char* Text;
    bool Utf8;
  } Cases[] = {
      {"FromName Sysop", false},                                      // ASCII is either
      {"FromName \x8f\xe0\xa8\xa2\xa5\xe2", false},                   // CP866
      {"FromName \xd0\x9f\xd1\x80\xd0\xb8", true},                    // UTF-8
      {"ToName \xd0\x9f\xd1", false},                                 // a sequence cut short
      {"\xef\xbb\xbf" "FastEchoConfig setup.cfg", true},              // a byte order mark
      {"\xe0\xa0\xa0\xa0", false},                                    // "рааа": a lead, then a lone byte
  };
  for (const auto& C : Cases) EXPECT_EQ(LooksLikeUtf8(C.Text), C.Utf8) << C.Text;
}

TEST(KelvutilCommands, CtlRegexAndFecfgEscapeWhatTheyPrint) {
  tRuntimeTempDir T;
  PutFile(T / "kelv.ctl", "FastEchoConfig set\x1b[2Jup.cfg\r\nToName \xd0\x9f\xd1\x80\xd0\xb8\r\n");
  tRun R = Command(RunCtlCommand, {"ctl", T / "kelv.ctl"});
  EXPECT_EQ(R.Code, 0);
  EXPECT_EQ(Lines(R.Out)[0], "FastEchoConfig\tset^[[2Jup.cfg");
  EXPECT_NE(R.Err.find("looks like UTF-8 text (from line 2)"), std::string::npos) << R.Err;
  PutFile(T / "kelv.ctl", "ToName \x8f\xe0\xa8\xa2\xa5\xe2\r\n");
  EXPECT_EQ(Command(RunCtlCommand, {"ctl", T / "kelv.ctl"}).Err, "");

  R = Command(RunRegexCommand, {"regex", "^-(.*)$", "\\0", "-a\tb"});
  EXPECT_EQ(R.Out, "a^Ib\n");

  // fecfg: types by name, node addresses, each area's links by address.
  tFeGenOptions O;
  O.Areas = 0, O.Nodes = 2, O.NodeLinks = fglNone, O.AreaBits = 16;
  O.ExplicitAreas = {{"ECHO.\x1b[2J", 3, "C:\\JAM\\ECHO", 4}, {"PASS", 0x80, "", 5}, {"ODD", 5, "X.SQD", 6}};
  O.Links = {{0, 4}, {1, 4}, {1, 6}};
  std::vector<uint8_t> Cfg = FeGenerate(O);
  PutFile(T / "setup.cfg", std::string(Cfg.begin(), Cfg.end()));
  R = Command(RunFecfgCommand, {"fecfg", T / "setup.cfg"});
  std::vector<std::string> Want = {"node\t0\t2:463/10\t1\t1", "node\t1\t2:463/11\t2\t2",
                                   "area\t0\tECHO.^[[2J\t3\tJAM\tC:\\JAM\\ECHO\t4\t2\t2:463/10 2:463/11",
                                   "area\t1\tPASS\t0\tnone\t\t5\t0\t", "area\t2\tODD\t5\tby its path\tX.SQD\t6\t1\t2:463/11"};
  std::vector<std::string> Got = Lines(R.Out);
  ASSERT_GE(Got.size(), Want.size());
  EXPECT_EQ(std::vector<std::string>(Got.end() - static_cast<long>(Want.size()), Got.end()), Want) << R.Out;
  PutFile(T / "cut.cfg", std::string(Cfg.begin(), Cfg.begin() + 5000));
  EXPECT_EQ(Command(RunFecfgCommand, {"fecfg", T / "cut.cfg"}).Err.find("shorter than its header says: "),
            ("kelvutil fecfg: cannot load " + T / "cut.cfg" + ": ").size());
}

class KelvutilCopy : public testing::tCrashmailTest {};

TEST_F(KelvutilCopy, TheCorpusComesAcrossWholeAndItsSourceStaysAsItWas) {
  for (const char* Folder : {"netmail", "echo"}) {
    SCOPED_TRACE(Folder);
    tRuntimeTempDir T;
    auto Before = Snapshot(Node / Folder);
    tRun R = Command(RunCopyCommand, {"copy", Node / Folder, T / "copy"});
    EXPECT_EQ(R.Code, 0) << R.Err;
    std::vector<std::string> Got = Lines(R.Out);
    ASSERT_FALSE(Got.empty());
    for (size_t I = 0; I + 1 < Got.size(); ++I) EXPECT_EQ(std::count(Got[I].begin(), Got[I].end(), '\t'), 1) << Got[I];
    EXPECT_EQ(Got.back(), "copied " + std::to_string(Got.size() - 1) + " of " + std::to_string(Got.size() - 1) + " messages");
    EXPECT_EQ(Snapshot(Node / Folder), Before);
    EXPECT_EQ(Command(RunCheckCommand, {"check", T / "copy"}).Code, 0);  // what we write checks clean
  }
}

TEST(KelvutilCopyLimits, WhatDidNotFitIsToldAndCounted) {
  tRuntimeTempDir T;
  fs::create_directories(T / "src");
  fs::create_directories(T / "dst");
  // Other software fills a name field whole, with no NUL: 36 characters,
  // one more than a written header keeps.
  PutFile(T / "src" + PathSeparator + "2.msg", MsgFile(std::string(36, 'N'), std::string(72, 's'), "a\r\0"s));
  PutFile(T / "src" + PathSeparator + "5.msg", MsgFile("Ivan", "hi", "b\r\0"s));
  PutFile(T / "src" + PathSeparator + "9.msg", MsgFile("Olga", "hi", "c\r\0"s));
  PutFile(T / "dst" + PathSeparator + "7.msg", MsgFile("Old", "kept", "d\r\0"s));
  tRun R = Command(RunCopyCommand, {"copy", T / "src", T / "dst", "2", "5"});
  EXPECT_EQ(R.Code, 0) << R.Err;
  EXPECT_EQ(Lines(R.Out), (std::vector<std::string>{
                              "2\t8\tFrom: cut to 35 of 36 characters\tSubject: cut to 71 of 72 characters", "5\t9",
                              "copied 2 of 2 messages", "lost\tFrom\t1\t*.MSG keeps 35 characters",
                              "lost\tSubject\t1\t*.MSG keeps 71 characters"}));
  EXPECT_EQ(GetFile(T / "dst" + PathSeparator + "7.msg"), MsgFile("Old", "kept", "d\r\0"s));

  // Refused before anything is read or made.
  struct {
    std::vector<std::string> Args;
    const char* Err;
  } Refused[] = {
      {{"copy", T / "src", T / "new", "--pkt-to", "2:5020/1"},
       "kelvutil copy: --pkt-from, --pkt-to, --password and --area are for a packet DST\n"},
      {{"copy", T / "src", T / "x.pkt", "--area", "TWO WORDS"}, "kelvutil copy: --area expects an area tag: one word, no blanks\n"},
      {{"copy", T / "src", T / "x.pkt", "--pkt-from", "2:5020"}, "kelvutil copy: --pkt-from expects an address zone:net/node[.point]\n"},
      {{"copy", T / "src", T / "x.pkt", "--password", "123456789"},
       "kelvutil copy: a packet password has at most 8 characters\n"},
      {{"copy", T / "src", "F" + T / "src" + PathSeparator}, "kelvutil copy: SRC and DST are the same base\n"},
      {{"copy", T / "src", T / "new", "5", "2"}, "kelvutil copy: FIRST is above LAST\n"},
  };
  auto Before = Snapshot(T.Path());
  for (const auto& C : Refused) {
    tRun F = Command(RunCopyCommand, C.Args);
    EXPECT_EQ(F.Code, 1) << C.Err;
    EXPECT_EQ(F.Err, C.Err);
    EXPECT_EQ(F.Out, "");
  }
  EXPECT_EQ(Snapshot(T.Path()), Before);
  EXPECT_FALSE(fs::exists(T / "new"));

  // Into a packet: its addresses and password are those asked for; an
  // existing packet with others is not written to.
  std::vector<std::string> Pkt = {"copy", T / "src", T / "out.pkt", "--pkt-from", "2:5020/1", "--pkt-to", "2:5020/2.5",
                                  "--password", "secret"};
  tRun P = Command(RunCopyCommand, Pkt);
  EXPECT_EQ(P.Code, 0) << P.Err;
  EXPECT_EQ(Lines(P.Out)[3], "copied 3 of 3 messages") << P.Out;
  std::string Shown = Command(RunShowCommand, {"show", T / "out.pkt", "3"}).Out;
  for (const char* Line : {"PacketFrom\t2:5020/1\n", "PacketTo\t2:5020/2.5\n", "PacketPassword\tsecret\n"})
    EXPECT_NE(Shown.find(Line), std::string::npos) << Line << Shown;
  Pkt[4] = "2:5020/9";
  P = Command(RunCopyCommand, Pkt);
  EXPECT_EQ(P.Code, 1);
  EXPECT_EQ(P.Err, "kelvutil copy: the packet P" + T / "out.pkt" + " is there already with other addresses or password\n");
}

// Fails the test on anything that would change the disk.
class tWriteAlarm : public tForwardingFileSystem {
 public:
  bool Open(std::string_view P, uint16_t Mode, intptr_t& H, int& E) override {
    tOpenMode M = DecodeOpenMode(Mode);
    EXPECT_FALSE(M.Write || M.Create) << "opened for writing: " << P;
    return Real().Open(P, Mode, H, E);
  }
  int32_t Write(intptr_t, const void*, uint32_t) override { return Alarm("Write"); }
  bool Truncate(intptr_t, int64_t) override { return Alarm("Truncate"); }
  bool MakeDir(std::string_view) override { return Alarm("MakeDir"); }
  bool Remove(std::string_view) override { return Alarm("Remove"); }
  bool RemoveDir(std::string_view) override { return Alarm("RemoveDir"); }
  bool Replace(std::string_view, std::string_view) override { return Alarm("Replace"); }
  bool RemoveAll(const std::vector<tShortString>&) override { return Alarm("RemoveAll"); }

 private:
  static int Alarm(const char* What) {
    ADD_FAILURE() << What;
    return 0;
  }
};

TEST(KelvutilCheck, EachFaultOfAMsgFolderWithItsOffsetAndNeverAWrite) {
  tRuntimeTempDir T;
  auto In = [&T](const char* Name) { return T / Name; };
  PutFile(In("1.msg"), MsgFile("A", "ok", "ok\r\0"s));
  PutFile(In("2.msg"), std::string(100, 'x'));
  PutFile(In("3.msg"), MsgFile("A", "cut", "no nul\r"));
  PutFile(In("4.msg"), MsgFile("A", "held", "x\0"s));
  for (const char* Name : {"0010.msg", "0.msg", "abc.msg", "1.2.msg", "1.msgold"}) PutFile(In(Name), MsgFile("A", "s", "\0"s));
  fs::create_directory(In("5.msg"));
  std::vector<std::string> Want = {
      In("0.msg") + "\t0\tthe name is no message number (1.msg to 2147483647.msg): the file is never read",
      In("0010.msg") + "\t0\tthe name is no message number (1.msg to 2147483647.msg): the file is never read",
      In("1.2.msg") + "\t0\tthe name is no message number (1.msg to 2147483647.msg): the file is never read",
      In("abc.msg") + "\t0\tthe name is no message number (1.msg to 2147483647.msg): the file is never read",
      In("2.msg") + "\t100\tthe file ends inside the 190-byte header",
      In("3.msg") + "\t197\tthe text has no closing NUL: the file looks cut short",
      In("4.msg") + "\t0\tcannot be read: another program holds it",
      In("5.msg") + "\t0\ta folder, not a message file",
  };
#ifndef _WIN32
  // Names that differ only in case: the reader takes 6.msg.
  PutFile(In("6.msg"), MsgFile("A", "s", "\0"s));
  PutFile(In("6.MSG"), MsgFile("A", "s", "\0"s));
  Want.push_back(In("6.MSG") + "\t0\tmessage 6 is 6.msg: this file of the same number is never read");
#endif
  tBufStream Holder(In("4.msg"), fmOpen | fmRead | fmDenyAll);
  ASSERT_EQ(Holder.Status, stOk);
  tWriteAlarm Alarm;
  testing::tFileSystemScope Scope(Alarm);
  tRun R = Command(RunCheckCommand, {"check", T.Path(), "S" + T / "sq", T / "missing"});
  EXPECT_EQ(R.Code, 2);  // the worst of damaged, cannot be checked, missing
  std::vector<std::string> Got = Lines(R.Out);
  const size_t Looked = Want.size() - 4;  // 1, 2, 3, 4 and, on POSIX, 6.msg
  Want.push_back("checked\t" + T.Path() + "\t" + std::to_string(Looked) + " files\t" + std::to_string(Want.size()) +
                 " findings");
  Want.push_back("checked\tS" + T / "sq" + "\tcannot be read: Squish bases cannot be checked yet");
  Want.push_back("checked\t" + T / "missing" + "\tcannot be read: no such folder");
  EXPECT_EQ(Got, Want);
  EXPECT_EQ(Command(RunCheckCommand, {"check", T.Path()}).Code, 1);
}

class KelvutilCheckCorpus : public testing::tCrashmailTest {};

TEST_F(KelvutilCheckCorpus, WhatCrashmailWroteIsClean) {
  tWriteAlarm Alarm;
  testing::tFileSystemScope Scope(Alarm);
  tRun R = Command(RunCheckCommand, {"check", Node / "netmail", Node / "echo"});
  EXPECT_EQ(R.Code, 0) << R.Out;
  for (const std::string& L : Lines(R.Out)) EXPECT_EQ(L.substr(L.rfind('\t')), "\tclean") << L;
}

// A node laid out here, relative to its folder as kelvane's are: plan
// tells every decision and changes nothing.
TEST(KelvutilPlan, EveryDecisionOfTheRun) {
  tRuntimeTempDir T;
  tInDir In(T.Path());
  for (const char* D : {"netmail", "sem", "bases/echo_msg"}) fs::create_directories(D);
  tFeGenOptions O;
  O.Areas = 0, O.Nodes = 1, O.NodeLinks = fglAll;
  O.NetmailDir = "netmail\\", O.SemaphoreDir = "sem\\";
  O.ExplicitAreas = {{"ECHO.MSG", 1, "bases\\echo_msg\\", -1}, {"ECHO.SQ", 2, "bases\\sq", -1},
                     {"SHARED.A", 2, "bases\\shared", -1},     {"SHARED.B", 2, "BASES\\SHARED", -1},
                     {"NET.AREA", 1, "netmail", -1},           {"PASS", 0, "", -1}};
  std::vector<uint8_t> Cfg = FeGenerate(O);
  PutFile("setup.cfg", std::string(Cfg.begin(), Cfg.end()));
  PutFile("kelv.ctl",
          "FastEchoConfig setup.cfg\r\nToName Robot\r\nMatchStr ^-(.*)$ | \\0\r\nStopScanAfter end\r\n"
          "IfFEBusy quit\r\nFrobnicate\r\n");
  PutFile("sem/febusy.0", "");
  PutFile("bases/echo_msg/1.msg", std::string(200, 'x'));
  PutFile("bases/sq.sqd", "1234");
  PutFile("bases/shared.sqd", "");
  PutFile("netmail/1.msg", MsgFile("Sysop", "hello", "Hi\r\0"s));
  uint8_t H[190];
  std::string Request = MsgFile("Sysop", "rm", "hello\r\r-ECHO.MSG\r-echo.sq\r-SHARED.A\r-NET.AREA\r-PASS\r-NOPE\r"
                                               "== END ==\r-LATE\r\0"s);
  std::copy(Request.begin(), Request.begin() + 190, H);
  PutTextField(H + 36, 36, "Robot", 35);
  PutFile("netmail/2.msg", std::string(reinterpret_cast<char*>(H), 190) + Request.substr(190));
  auto Before = Snapshot(".");

  tRun R = Command(RunPlanCommand, {"plan"});
  EXPECT_EQ(R.Code, 0) << R.Err;
  const std::string S(1, PathSeparator);
  const size_t Bytes = Cfg.size();
  EXPECT_EQ(Lines(R.Out), (std::vector<std::string>{
                              "control\tkelv.ctl",
                              "wrong-line\t6",
                              "config\tsetup.cfg\t6 areas\t1 node\t" + std::to_string(Bytes) + " bytes",
                              "netmail\tnetmail\\\tmessages up to number 2",
                              "message\t1\tnot a request\tToName\tSysop",
                              "message\t2\trequest\tSysop (2:5020/2) -> Robot (2:5020/1)",
                              "line\t2\t1\thello",
                              "line\t2\t3\t-ECHO.MSG",
                              "area\t2\tECHO.MSG\tremoved\t*.MSG\tbases\\echo_msg\\",
                              "line\t2\t4\t-echo.sq",
                              "area\t2\techo.sq\tremoved\tSquish\tbases\\sq",
                              "line\t2\t5\t-SHARED.A",
                              "area\t2\tSHARED.A\tremoved\tSquish\tbases\\shared",
                              "line\t2\t6\t-NET.AREA",
                              "area\t2\tNET.AREA\tremoved\t*.MSG\tnetmail",
                              "line\t2\t7\t-PASS",
                              "area\t2\tPASS\tremoved\tnone\t",
                              "line\t2\t8\t-NOPE",
                              "area\t2\tNOPE\tnot found",
                              "line\t2\t9\t== END ==",
                              "stop\t2\t9\tEND\tthe rest of the request is not read",
                              "messages\t2\t1 request",
                              "busy-flag\tsem\\febusy.0\tthere now: kelvane would quit (exit code 253), storing nothing",
                              "store\tsetup.cfg\t6 -> 1 areas\t" + std::to_string(Bytes) + " -> " +
                                  std::to_string(Bytes - 5 * 190) + " bytes\t5 node links cleared",
                              "base\tECHO.MSG\tbases\\echo_msg\\\tdeleted\t1 file\t200 bytes",
                              "file\tECHO.MSG\tbases\\echo_msg" + S + "1.msg\t200",
                              "base\tECHO.SQ\tbases\\sq\tdeleted\t1 file\t4 bytes",
                              "file\tECHO.SQ\tbases" + S + "sq.sqd\t4",
                              "base\tSHARED.A\tbases\\shared\tkept\tis also the base of area [SHARED.B]",
                              "base\tNET.AREA\tnetmail\tkept\tis the netmail folder",
                              "base\tPASS\t\tnone\tthe area has no base path",
                          }));
  EXPECT_EQ(Snapshot("."), Before);

  PutFile("kelv.ctl", "FastEchoConfig missing.cfg\r\n");
  R = Command(RunPlanCommand, {"plan"});
  EXPECT_EQ(R.Code, 1);
  EXPECT_EQ(R.Err, "kelvutil plan: cannot load [missing.cfg]: there is no such file\n");
}

}  // namespace
}  // namespace kelvane
