// kelvutil's commands run as the program runs them, their output caught:
// arguments read as bare paths or type letters, text as UTF-8 or bytes,
// fecfg for a sysop, copy with what did not fit, check with the offset of
// each fault (and never a write), and plan against a node laid out here.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "msgbase/base_repair.h"
#include "msgbase/baseid.h"
#include "msgbase/jam.h"
#include "msgbase/message.h"
#include "msgbase/msgbase.h"
#include "msgbase/pkt.h"
#include "msgbase/squish.h"
#include "msgbase/squish_test_util.h"
#include "msgbase/test_corpus.h"
#include "msgbase/test_fs.h"
#include "msgbase/test_nntp.h"
#include "runtime/coding.h"
#include "runtime/file_system.h"
#include "runtime/path.h"
#include "runtime/stream.h"
#include "runtime/test_dir.h"
#include "tools/fegen_lib.h"
#include "app/control_file.h"
#include "tools/kelvutil.h"
#include "tools/kelvutil_check.h"
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

// list and show never stay silent: a folder of other bases is told with
// the name of one of them, each message that cannot be read is named.
TEST(KelvutilList, WhatItCannotListIsTold) {
  tRuntimeTempDir T;
  auto In = [&T](const char* Dir, const char* Name = "") { return T / Dir + PathSeparator + Name; };
  for (const char* D : {"bases", "in", "net", "empty"}) fs::create_directories(T / D);
  for (const char* F : {"echo.jhr", "echo.jdt", "area.jhr", "SQ.SQD"}) PutFile(In("bases", F), "");
  PutFile(In("in", "0000abcd.pkt"), "");
  PutFile(In("net", "1.msg"), MsgFile("Ivan", "one", "a\r\0"s));
  PutFile(In("net", "2.msg"), MsgFile("Held", "two", "b\r\0"s));
  PutFile(In("net", "3.msg"), MsgFile("Olga", "three", "c\r\0"s));
  tBufStream Held(In("net", "2.msg"), static_cast<uint16_t>(smOpenRead | fmDenyAll));  // as a tosser holds it
  ASSERT_EQ(Held.Status, stOk);
  const std::string Bases = In("bases") + " holds no *.MSG files but 2 JAM bases and 1 Squish base; name one as " +
                            In("bases", "area.jhr") + ", or J" + In("bases", "area") + "\n";
  struct {
    int (*Run)(int, char**);
    std::vector<std::string> Args;
    int Code;
    size_t Listed;
    std::string Err;
  } Cases[] = {
      {RunListCommand, {"list", T / "bases"}, 1, 0, "kelvutil list: " + Bases},
      {RunListCommand, {"list", T / "in"}, 1, 0,
       "kelvutil list: " + In("in") + " holds no *.MSG files but 1 packet; name one as " + In("in", "0000abcd.pkt") + "\n"},
      {RunListCommand, {"list", T / "net"}, 1, 2, "kelvutil list: message 2 cannot be read, passed over\n"},
      {RunListCommand, {"list", T / "empty"}, 0, 0, ""},
      {RunShowCommand, {"show", T / "bases", "1"}, 1, 0, "kelvutil show: no message 1 in " + T / "bases" + ": " + Bases},
      {RunShowCommand, {"show", T / "net", "2"}, 1, 0, "kelvutil show: message 2 of " + T / "net" + " cannot be read\n"},
  };
  for (const auto& C : Cases) {
    tRun R = Command(C.Run, C.Args);
    EXPECT_EQ(R.Code, C.Code) << C.Args[1];
    EXPECT_EQ(Lines(R.Out).size(), C.Listed) << R.Out;
    EXPECT_EQ(R.Err, C.Err);
  }
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
  PutFile(T / "kelv.ctl", "FromName Sysop\r\nToName \x8f\xe0\xa8\xa2\xa5\xe2\r\n");
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
  const char* NoHop =
      "kelvutil copy: a new packet needs its addresses: --pkt-from (this node) and --pkt-to (the node it goes to)\n";
  struct {
    std::vector<std::string> Args;
    const char* Err;
  } Refused[] = {
      {{"copy", T / "src", T / "new", "--pkt-to", "2:5020/1"},
       "kelvutil copy: --pkt-from, --pkt-to and --password are for a packet DST\n"},
      {{"copy", T / "src", T / "new", "--area", "ECHO"},
       "kelvutil copy: --area is for a packet or JAM DST: *.MSG bases record no area and no message kind\n"},
      {{"copy", T / "src", "S" + T / "new", "--area", "ECHO"},
       "kelvutil copy: --area is for a packet or JAM DST: Squish bases record no area and no message kind\n"},
      {{"copy", T / "src", T / "x.pkt", "--area", "TWO WORDS"}, "kelvutil copy: --area expects an area tag: one word, no blanks\n"},
      {{"copy", T / "src", T / "x.pkt", "--pkt-from", "2:5020"}, "kelvutil copy: --pkt-from expects an address zone:net/node[.point]\n"},
      {{"copy", T / "src", T / "x.pkt", "--password", "123456789"},
       "kelvutil copy: a packet password has at most 8 characters\n"},
      {{"copy", T / "src", "F" + T / "src" + PathSeparator}, "kelvutil copy: SRC and DST are the same base\n"},
      {{"copy", T / "src", T / "new", "5", "2"}, "kelvutil copy: FIRST is above LAST\n"},
      // The hop a packet travels is no message's: a new one is made only with both.
      {{"copy", T / "src", T / "x.pkt", "--pkt-from", "2:5020/1"}, NoHop},
      {{"copy", T / "src", "P" + T / "x.pkt"}, NoHop},
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
  EXPECT_EQ(Command(RunCopyCommand, {"copy", T / "src", T / "out.pkt", "2", "2"}).Code, 0);  // it has them
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
  bool RemoveAll(const std::vector<tShortString>&, int) override { return Alarm("RemoveAll"); }
  int TryLock(intptr_t) override { return Alarm("TryLock"); }

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
  EXPECT_EQ(R.Code, 2);  // the worst of damaged and missing
  std::vector<std::string> Got = Lines(R.Out);
  const size_t Looked = Want.size() - 4;  // 1, 2, 3, 4 and, on POSIX, 6.msg
  Want.push_back("checked\t" + T.Path() + "\t" + std::to_string(Looked) + " files\t" + std::to_string(Want.size()) +
                 " findings");
  Want.push_back("checked\tS" + T / "sq" + "\tcannot be read: " + T / "sq.sqd" + " cannot be opened");
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

// --- check of Squish, JAM and packets ------------------------------------
//
// A base our library writes, damaged byte by byte: each case patches the
// files (offsets and values written as NAME+N over the symbols of the
// base: its frame and header offsets, sizes) and lists every line check
// must print for it, the file by its extension.

using tSymbols = std::map<std::string, int64_t>;

// "F1+4", "SQD-2", "12", "0xFFFFFFFF".
int64_t Evaluate(const std::string& E, const tSymbols& S) {
  size_t Op = E.find_first_of("+-", 1);
  std::string Word = E.substr(0, Op);
  int64_t V = S.count(Word) ? S.at(Word) : std::stoll(Word, nullptr, 0);
  if (Op == std::string::npos) return V;
  int64_t N = std::stoll(E.substr(Op + 1), nullptr, 0);
  return E[Op] == '+' ? V + N : V - N;
}

// {EXPR} as a decimal number, {#EXPR} as 0x%08X.
std::string Filled(const std::string& Text, const tSymbols& S) {
  std::string Out;
  for (size_t I = 0; I < Text.size(); ++I) {
    size_t End = Text[I] == '{' ? Text.find('}', I) : std::string::npos;
    if (End == std::string::npos) {
      Out += Text[I];
      continue;
    }
    bool Hex = Text[I + 1] == '#';
    int64_t V = Evaluate(Text.substr(I + 1 + Hex, End - I - 1 - Hex), S);
    Out += Hex ? Hex32(static_cast<uint32_t>(V)) : std::to_string(V);
    I = End;
  }
  return Out;
}

struct tPatch {
  const char* File;  // extension
  const char* At;
  int Width;          // 1, 2 or 4 bytes little-endian; 0: the file ends at At;
                      // -1: Value's characters put in before At
  const char* Value;  // writing past the end makes the file longer
};
struct tDamageCase {
  const char* What;
  std::vector<tPatch> Patches;
  std::vector<std::string> Want;  // "EXT\tOFFSET\tTEXT"; none: clean
  bool Unmended = false;          // repair names it and writes nothing
};

// Every message show prints, by number, without the lines that tell where
// it lies in the files or that its text was cut there.
std::map<std::string, std::string> ShownAll(const std::string& Id) {
  std::map<std::string, std::string> Out;
  for (const std::string& L : Lines(Command(RunListCommand, {"list", Id}).Out)) {
    const std::string N = L.substr(0, L.find('\t'));
    for (const std::string& S : Lines(Command(RunShowCommand, {"show", Id, N}).Out))
      if (S.rfind("SquishFrame", 0) && S.rfind("JamHdrOffset", 0) && S.rfind("JamTxtOffset", 0) &&
          S.rfind("JamTextCut", 0))
        Out[N] += S + "\n";
  }
  return Out;
}

// The messages of a base as list shows them, without their numbers, and
// their texts as show prints them.
std::set<std::string> ListedAndTexts(const std::string& Id) {
  std::set<std::string> Out;
  for (const std::string& L : Lines(Command(RunListCommand, {"list", Id}).Out)) Out.insert(L.substr(L.find('\t')));
  for (const auto& [N, Shown] : ShownAll(Id))
    if (Shown.find("\n\n") + 2 < Shown.size()) Out.insert("text:" + Shown.substr(Shown.find("\n\n")));
  return Out;
}

// Repair of the damaged base: a clean base is not written; a damaged one
// checks clean afterwards with every message a list showed before and its
// text as a reader took it, none longer (Keeps), or, where nothing can be
// mended, is as it was.
void ExpectRepaired(const std::string& Id, const std::string& Stem, const std::map<std::string, std::string>& Damaged,
                    const tDamageCase& C, bool Keeps) {
  const std::set<std::string> Before = ListedAndTexts(Id);
  tRun R = Command(RunRepairCommand, {"repair", Id});
  if (C.Want.empty() || C.Unmended) {
    for (const auto& [Ext, Bytes] : Damaged) EXPECT_EQ(GetFile(Stem + "." + Ext), Bytes) << Ext;
    EXPECT_EQ(R.Code, C.Want.empty() ? 0 : 1) << R.Out;
    return;
  }
  EXPECT_EQ(R.Code, 0) << R.Out;
  tRun Checked = Command(RunCheckCommand, {"check", Id});
  EXPECT_EQ(Checked.Code, 0) << Checked.Out;
  if (!Keeps) return;
  const std::set<std::string> After = ListedAndTexts(Id);
  for (const std::string& L : Before) EXPECT_TRUE(After.count(L)) << "lost:" << L << "\n" << R.Out;
}

// The base Stem (its files Stem + "." + extension, bytes Files) damaged
// case by case and checked as Letter + Stem (or the packet's path).
void ExpectDamageFindings(const std::string& Id, const std::string& Stem, const std::map<std::string, std::string>& Files,
                          const tSymbols& S, const std::vector<tDamageCase>& Cases, bool KeepsAll = true) {
  for (const tDamageCase& C : Cases) {
    SCOPED_TRACE(C.What);
    std::map<std::string, std::string> Damaged = Files;
    for (const tPatch& P : C.Patches) {
      std::string& F = Damaged.at(P.File);
      const size_t At = static_cast<size_t>(Evaluate(P.At, S));
      if (P.Width <= 0) {
        if (P.Width == 0) F.resize(At);
        else F.insert(At, P.Value);
        continue;
      }
      if (F.size() < At + P.Width) F.resize(At + P.Width);
      const uint64_t V = static_cast<uint64_t>(Evaluate(P.Value, S));
      for (int B = 0; B < P.Width; ++B) F[At + B] = static_cast<char>(V >> (8 * B));
    }
    for (const auto& [Ext, Bytes] : Damaged) PutFile(Stem + "." + Ext, Bytes);
    std::vector<std::string> Want;
    for (const std::string& W : C.Want) Want.push_back(Stem + "." + Filled(W, S));
    tWriteAlarm Alarm;
    testing::tFileSystemScope Scope(Alarm);
    tRun R = Command(RunCheckCommand, {"check", Id});
    std::vector<std::string> Got = Lines(R.Out);
    ASSERT_FALSE(Got.empty());
    EXPECT_EQ(Got.back().substr(Got.back().rfind('\t')), Want.empty() ? "\tclean" : "\t" + Counted(Want.size(), "finding"));
    Got.pop_back();
    EXPECT_EQ(Got, Want);
    EXPECT_EQ(R.Code, Want.empty() ? 0 : 1);
    testing::tFileSystemScope Real(RealFileSystem());
    ExpectRepaired(Id, Stem, Damaged, C, KeepsAll);
  }
  for (const auto& [Ext, Bytes] : Files) PutFile(Stem + "." + Ext, Bytes);
}

// Every file of the base cut at every length, which check must never find
// clean, then every aligned word of it set to values a damaged file holds,
// which it must read to the end; the files are put back after each.
void ExpectCheckSurvives(const std::string& Id, const std::string& Stem, const std::map<std::string, std::string>& Files) {
  auto Check = [&](const std::string& Ext, const std::string& Bytes) {
    PutFile(Stem + "." + Ext, Bytes);
    tRun R = Command(RunCheckCommand, {"check", Id});
    EXPECT_EQ(Lines(R.Out).back().rfind("checked\t", 0), 0u) << R.Out;
    return R.Code;
  };
  for (const auto& [Ext, Bytes] : Files) {
    for (size_t N = 0; N < Bytes.size(); ++N) ASSERT_NE(Check(Ext, Bytes.substr(0, N)), 0) << Ext << " cut at " << N;
    for (size_t At = 0; At + 4 <= Bytes.size(); At += 4)
      for (uint32_t V : {0xFFFFFFFFu, 0x7FFFFFFFu, 0x00000100u}) {
        std::string W = Bytes;
        PutU32(reinterpret_cast<uint8_t*>(W.data()) + At, V);
        Check(Ext, W);
      }
    PutFile(Stem + "." + Ext, Bytes);
  }
}

std::map<std::string, std::string> FilesOf(const std::string& Stem, std::initializer_list<const char*> Extensions) {
  std::map<std::string, std::string> Files;
  for (const char* E : Extensions) Files[E] = GetFile(Stem + "." + E);
  return Files;
}

// Three messages written, the second deleted and the third rewritten:
// frames F1 and F3 on the message chain, F2 and the third's first frame
// on the free chain.
TEST(KelvutilCheckSquish, EachDamageWithItsOffset) {
  tRuntimeTempDir T;
  const std::string Stem = T / "sq";
  {
    auto Base = testing::OpenSquish(Stem);
    ASSERT_TRUE(Base);
    tMessage M;
    for (int I = 1; I <= 3; ++I) {
      testing::FillNumbered(M, I, 40);
      ASSERT_FALSE(Base->WriteMessage(I, &M));
    }
    ASSERT_FALSE(Base->DeleteMessage(2));
    ASSERT_FALSE(Base->WriteMessage(2, &M));
  }
  auto Files = FilesOf(Stem, {"sqd", "sqi"});
  const std::string& D = Files["sqd"];
  using testing::U32At;
  tSymbols S = {{"F1", U32At(D, sbFirstFrame)}, {"F2", U32At(D, sbFirstFree)}, {"F3", U32At(D, sbLastFrame)},
                {"SQD", D.size()}, {"SQI", Files["sqi"].size()}};
  S["LF"] = U32At(D, sbLastFree);
  S["L1"] = U32At(D, S["F1"] + sfLength);
  S["L3"] = U32At(D, S["F3"] + sfLength);
  S["M1"] = U32At(D, S["F1"] + sfMsgLength);
  S["H1"] = U32At(Files["sqi"], siHash);
  S["H3"] = U32At(Files["sqi"], SqIdxSize + siHash);
  ASSERT_EQ(U32At(D, S["F1"] + sfNext), S["F3"]);
  ASSERT_EQ(U32At(D, sbNextUid), 5u);
  ExpectDamageFindings("S" + Stem, Stem, Files, S, {
      {"as written", {}, {}},
      {"records beyond the count, as other software leaves them; the received bit of a hash",
       {{"sqi", "SQI", 4, "0"}, {"sqi", "SQI+4", 4, "0xFFFFFFFF"}, {"sqi", "SQI+8", 4, "0xFFFFFFFF"},
        {"sqi", "20", 4, "H3+0x80000000"}}, {}},
      {"header sizes", {{"sqd", "0", 2, "255"}, {"sqd", "130", 2, "30"}},
       {"sqd\t0\theader length 255, not 256", "sqd\t130\tframe header size 30, not 28"}},
      {"counts", {{"sqd", "4", 4, "3"}},
       {"sqd\t8\thighest message 2, but the header counts 3 messages",
        "sqd\t4\tthe header counts 3 messages, the index holds 2 records",
        "sqd\t4\tthe header counts 3 messages, the chain of message frames holds 2"}},
      {"high-water mark", {{"sqd", "16", 4, "5"}}, {"sqd\t16\thigh-water mark 5 is not below the next UMSGID 5"}},
      {"end of file", {{"sqd", "120", 4, "SQD+1"}}, {"sqd\t120\tend of file {SQD+1}, but the file has {SQD} bytes"}},
      {"an append cut off: a frame past the end of file and the last frame's link to it",
       {{"sqd", "SQD", 4, "0xAFAE4453"}, {"sqd", "SQD+24", 4, "0"}, {"sqd", "F3+4", 4, "SQD"}}, {}},
      {"end of file inside a frame", {{"sqd", "120", 4, "F3+40"}},
       {"sqd\t{F3+12}\tframe length {L3} runs past the end of the file ({F3+40} bytes)"}},
      {"index cut inside its second record", {{"sqi", "SQI-5", 0, ""}},
       {"sqi\t12\tthe index ends in a part record of 7 bytes",
        "sqd\t4\tthe header counts 2 messages, the index holds 1 records",
        "sqd\t{F3}\tno counted index record points at this message frame: readers never see its message"}},
      {"frame identifier", {{"sqd", "F3", 4, "0x12345678"}},
       {"sqd\t{F3}\tframe identifier 0x12345678, not 0xAFAE4453 (reached from offset {F1+4})",
        "sqd\t108\tlast frame {F3}, but the chain of message frames ends at frame {F1}",
        "sqd\t4\tthe header counts 2 messages, the chain of message frames holds 1",
        "sqi\t12\tmessage 2 points at offset {F3}, no frame of the chain of message frames"}},
      {"a loop", {{"sqd", "F3+4", 4, "F1"}}, {"sqd\t{F3+4}\tthe chain of message frames runs in a circle back to frame {F1}"}},
      {"next past the end", {{"sqd", "F1+4", 4, "SQD"}},
       {"sqd\t{F1+4}\tpoints at frame {SQD}, past the end of the file ({SQD} bytes)",
        "sqd\t108\tlast frame {F3}, but the chain of message frames ends at frame {F1}",
        "sqd\t4\tthe header counts 2 messages, the chain of message frames holds 1",
        "sqi\t12\tmessage 2 points at offset {F3}, no frame of the chain of message frames"}},
      {"previous link", {{"sqd", "F3+8", 4, "F2"}}, {"sqd\t{F3+8}\tprevious frame {F2}, but the frame before it is {F1}"}},
      {"a free frame on the message chain", {{"sqd", "F1+24", 2, "1"}},
       {"sqd\t{F1+24}\tframe type 1 on the chain of message frames"}},
      {"frame length past the end", {{"sqd", "F3+12", 4, "0x10000"}},
       {"sqd\t{F3+12}\tframe length 65536 runs past the end of the file ({SQD} bytes)"}},
      {"frame length into the next frame", {{"sqd", "F1+12", 4, "L1+40"}, {"sqd", "F1+16", 4, "L1+40"}},
       {"sqd\t{F1+12}\tframe length {L1+40} runs into the frame at {F2}"}},
      {"message length", {{"sqd", "F1+16", 4, "L1+1"}},
       {"sqd\t{F1+16}\tmessage length {L1+1} is above the frame length {L1}"}},
      {"message length below its header", {{"sqd", "F1+16", 4, "100"}},
       {"sqd\t{F1+16}\tmessage length 100 is below the 238-byte message header"}},
      {"control length", {{"sqd", "F1+20", 4, "M1"}},
       {"sqd\t{F1+20}\tcontrol length {M1} does not fit the message length {M1} after the 238-byte header"}},
      {"a message frame on the free chain", {{"sqd", "F2+24", 2, "0"}}, {"sqd\t{F2+24}\tframe type 0 on the free chain"}},
      {"a frame on both chains", {{"sqd", "112", 4, "F1"}},
       {"sqd\t112\tframe {F1} is on both the chain of message frames and the free chain",
        "sqd\t116\tlast free frame {LF}, but the free chain ends at none"}},
      {"index at a free frame", {{"sqi", "0", 4, "F2"}},
       {"sqi\t0\tmessage 1 points at offset {F2}, a free frame",
        "sqd\t{F1}\tno counted index record points at this message frame: readers never see its message"}},
      {"two records, one frame", {{"sqi", "12", 4, "F1"}},
       {"sqi\t12\tmessage 2 points at frame {F1}, which an earlier record points at",
        "sqi\t20\tmessage 2: recipient hash {#H3}, but its recipient hashes to {#H1}",
        "sqd\t{F1+242}\tmessage 2: UMSGID 2 in the message header, 4 in its index record",
        "sqd\t{F3}\tno counted index record points at this message frame: readers never see its message"}},
      {"index out of the chain's order", {{"sqi", "0", 4, "F3"}, {"sqi", "12", 4, "F1"}, {"sqi", "8", 4, "H3"},
                                          {"sqi", "20", 4, "H1"}},
       {"sqd\t{F3+242}\tmessage 1: UMSGID 4 in the message header, 2 in its index record",
        "sqi\t12\tmessage 2 points at frame {F1}, which comes before the frame of the message before it on the chain",
        "sqd\t{F1+242}\tmessage 2: UMSGID 2 in the message header, 4 in its index record"}},
      {"hash", {{"sqi", "8", 4, "0x1234"}},
       {"sqi\t8\tmessage 1: recipient hash 0x00001234, but its recipient hashes to {#H1}"}},
      {"UMSGIDs", {{"sqi", "16", 4, "2"}},
       {"sqi\t16\tmessage 2: UMSGID 2 is not above the one before, 2",
        "sqd\t{F3+242}\tmessage 2: UMSGID 4 in the message header, 2 in its index record"}},
      {"UMSGID not given yet", {{"sqi", "16", 4, "5"}},
       {"sqi\t16\tmessage 2: UMSGID 5 is not below the next UMSGID 5",
        "sqd\t{F3+242}\tmessage 2: UMSGID 4 in the message header, 5 in its index record"}},
  });
  ExpectCheckSurvives("S" + Stem, Stem, Files);
  tBufStream Holder(Stem + ".sqi", fmOpen | fmRead | fmDenyAll);
  ASSERT_EQ(Holder.Status, stOk);
  tRun R = Command(RunCheckCommand, {"check", "S" + Stem});
  EXPECT_EQ(R.Code, 2);
  EXPECT_EQ(R.Out, "checked\tS" + Stem + "\tcannot be read: " + Stem + ".sqi cannot be opened: another program holds it\n");
}

// Squish offsets and lengths are 32-bit unsigned: frames between 2 and 4
// GiB (a sparse data file makes them cheap) are written, listed, linked
// and deleted as any other, and the base checks clean after each change;
// a frame that would pass 4 GiB is refused with the files as they were.
TEST(KelvutilSquishLarge, FramesBetweenTwoAndFourGiB) {
#ifdef _WIN32
  GTEST_SKIP() << "a sparse data file of 4 GiB";
#else
  tRuntimeTempDir T;
  const std::string Id = "S" + T / "big", Sqd = T / "big.sqd";
  auto Change = [&Id](int Delete) {  // a message appended, or message Delete deleted
    auto Base = OpenBase(Id, 0);
    tMessage M;
    M.Subject = tShortString("message " + std::to_string(Base->Count + 1));
    return Delete ? Base->DeleteMessage(Delete) : Base->WriteMessage(Base->Count + 1, &M);
  };
  ASSERT_FALSE(Change(0));
  fs::resize_file(Sqd, int64_t{3} << 30);
  // Appended at 3 GiB, behind it, the one between deleted, the last, one more.
  for (int Delete : {0, 0, 2, 2, 0}) {
    ASSERT_FALSE(Change(Delete)) << Delete;
    tRun Checked = Command(RunCheckCommand, {"check", Id});
    EXPECT_EQ(Checked.Code, 0) << Checked.Out;
  }
  EXPECT_EQ(Lines(Command(RunListCommand, {"list", Id}).Out).size(), 2u);
  EXPECT_GT(fs::file_size(Sqd), uintmax_t{3} << 30);
  fs::resize_file(Sqd, (int64_t{4} << 30) - 100);  // no room for a frame below 4 GiB
  const std::string Index = GetFile(T / "big.sqi");
  EXPECT_TRUE(Change(0));
  EXPECT_EQ(fs::file_size(Sqd), (uintmax_t{4} << 30) - 100);
  EXPECT_EQ(GetFile(T / "big.sqi"), Index);
#endif
}

// Our own base: a wrong CRC is told for what it costs, and nobody else is
// blamed for it.
const std::string KnownCrcFault = " (the base reads as it is, only a lookup through the CRC misses the message)";

// Four messages written, 2 and 3 answers to 1, then 2 deleted: its index
// record cleared, its header left behind marked deleted.
TEST(KelvutilCheckJam, EachDamageWithItsOffset) {
  tRuntimeTempDir T;
  const std::string Stem = T / "jam";
  int Subfields1 = 0;
  {
    auto Base = OpenBase("J" + Stem, 0);
    ASSERT_TRUE(Base);
    tMessage M;
    for (int I = 1; I <= 4; ++I) {
      testing::FillNumbered(M, I, 40);
      ASSERT_FALSE(Base->WriteMessage(I, &M));
    }
    Base->LinkReply(1, 2);
    Base->LinkReply(1, 3);
    ASSERT_FALSE(Base->DeleteMessage(2));
    tJamRawMessage Raw;
    ASSERT_TRUE(static_cast<tJamBase&>(*Base).ReadRaw(1, Raw));
    Subfields1 = static_cast<int>(Raw.Subfields.size());
  }
  auto Files = FilesOf(Stem, {"jhr", "jdt", "jdx"});
  const std::string &Jhr = Files["jhr"], &Jdx = Files["jdx"];
  using testing::U32At;
  tSymbols S = {{"H1", U32At(Jdx, 4)}, {"H3", U32At(Jdx, 20)}, {"H4", U32At(Jdx, 28)}, {"U1", U32At(Jdx, 0)},
                {"JHR", Jhr.size()}, {"JDT", Files["jdt"].size()}, {"JDX", Jdx.size()}};
  S["SL1"] = U32At(Jhr, S["H1"] + jhSubfieldLen);
  S["SL4"] = U32At(Jhr, S["H4"] + jhSubfieldLen);
  S["I1"] = U32At(Jhr, S["H1"] + jhMsgIdCrc);
  S["X1"] = S["SL1"] + 8 * Subfields1;
  S["E1"] = 8 * Subfields1;
  // The last subfield of message 1, which a SubfieldLen 2 bytes short cuts.
  int64_t Last = S["H1"] + JamHeaderSize;
  while (Last + 8 + U32At(Jhr, Last + 4) < S["H1"] + JamHeaderSize + S["SL1"]) Last += 8 + U32At(Jhr, Last + 4);
  S["P1"] = Last, S["ID1"] = U32At(Jhr, Last), S["D1"] = U32At(Jhr, Last + 4);
  ASSERT_EQ(U32At(Jdx, 12), 0xFFFFFFFFu);
  ASSERT_EQ(U32At(Jhr, S["H1"] + jhReply1st), 3u);
  const std::string Active2 = "jhr\t12\tActiveMsgs 3, but 2 messages are not deleted";
  ExpectDamageFindings("J" + Stem, Stem, Files, S, {
      {"as written", {}, {}},
      {"fixed header signature", {{"jhr", "1", 1, "0x42"}}, {"jhr\t0\tthe fixed header's signature is not JAM and a zero byte"}},
      {"ActiveMsgs", {{"jhr", "12", 4, "7"}}, {"jhr\t12\tActiveMsgs 7, but 3 messages are not deleted"}},
      {"index part record", {{"jdx", "JDX", 4, "0"}}, {"jdx\t{JDX}\tthe index ends in a part record of 4 bytes"}},
      {"header offset past the end", {{"jdx", "4", 4, "JHR-75"}},
       {"jdx\t4\tmessage 1: header offset {JHR-75} runs past the end of .jhr ({JHR} bytes)", Active2}},
      {"header offset inside the fixed header", {{"jdx", "4", 4, "100"}},
       {"jdx\t4\tmessage 1: header offset 100 lies inside the fixed header", Active2}},
      {"no header where the index points", {{"jdx", "4", 4, "H1+4"}},
       {"jhr\t{H1+4}\tmessage 1: the index points at offset {H1+4}, where no header begins (no JAM signature)",
        "jhr\t{H1+8}\tmessage 1: revision {SL1}, not 1", Active2}},
      {"revision", {{"jhr", "H3+4", 2, "2"}}, {"jhr\t{H3+4}\tmessage 3: revision 2, not 1"}},
      {"two records, one header", {{"jdx", "28", 4, "H1"}},
       {"jdx\t28\tmessage 4: the header at {H1} is message 1's already", Active2}},
      {"a deleted index record", {{"jdx", "0", 4, "0xFFFFFFFF"}, {"jdx", "4", 4, "0xFFFFFFFF"}}, {Active2}},
      {"UserCRC, wrong twice", {{"jdx", "0", 4, "0x12345678"}, {"jdx", "16", 4, "0"}},
       {"jdx\t0\tmessage 1: UserCRC 0x12345678, but the CRC of the recipient \"Sergey Ivanov\" is {#U1}, and 1 more "
        "message has this CRC wrong" + KnownCrcFault}},
      {"MsgIdCRC", {{"jhr", "H1+16", 4, "0"}},
       {"jhr\t{H1+16}\tmessage 1: MsgIdCRC 0x00000000, but the CRC of the MSGID \"2:5020/1 10000001\" is {#I1}" +
        KnownCrcFault}},
      {"ReplyCRC", {{"jhr", "H3+20", 4, "0"}},
       {"jhr\t{H3+20}\tmessage 3: ReplyCRC 0x00000000, but the CRC of the REPLY \"\" is 0xFFFFFFFF" + KnownCrcFault}},
      {"text past .jdt", {{"jhr", "H1+64", 4, "JDT+1"}},
       {"jhr\t{H1+60}\tmessage 1: the text at 0, {JDT+1} bytes, runs past the end of .jdt ({JDT} bytes)"}},
      {"SubfieldLen 8 bytes a subfield too large", {{"jhr", "H1+8", 4, "X1"}},
       {"jhr\t{H1+8}\tmessage 1: SubfieldLen {X1} is 8 bytes a subfield too large, {E1} bytes past its subfields "
        "(jamnntpd's 64-bit build is known to write it so; readers stop at the next header, the base reads as it is)"}},
      {"SubfieldLen past the file", {{"jhr", "H4+8", 4, "SL4+3"}},
       {"jhr\t{H4+8}\tmessage 4: SubfieldLen {SL4+3} runs 3 bytes past its subfields, past the end of the file"}},
      {"SubfieldLen cutting a subfield", {{"jhr", "H1+8", 4, "SL1-2"}},
       {"jhr\t{H1+8}\tmessage 1: SubfieldLen {SL1-2}: the subfield at {P1} (id {ID1}, DatLen {D1}) runs past SubfieldLen"}},
      {"a DatLen past the file", {{"jhr", "H4+8", 4, "0x7FFFFFFF"}, {"jhr", "H4+80", 4, "JHR"}},
       {"jhr\t{H4+8}\tmessage 4: SubfieldLen 2147483647: the subfield at {H4+76} (id 0, DatLen {JHR}) runs past the end "
        "of the file"}},
      {"ReplyTo", {{"jhr", "H3+24", 4, "9"}}, {"jhr\t{H3+24}\tmessage 3: ReplyTo names message 9, the base has 4"}},
      {"ReplyNext", {{"jhr", "H3+32", 4, "0xFFFFFFFF"}},
       {"jhr\t{H3+32}\tmessage 3: ReplyNext names message 4294967295, the base has 4"}},
  });
  ExpectCheckSurvives("J" + Stem, Stem, Files);
}

// Two messages written; M2 is the second one's type word, END the closing
// zeros.
TEST(KelvutilCheckPacket, EachDamageWithItsOffset) {
  tRuntimeTempDir T;
  const std::string Stem = T / "mail";
  {
    auto Base = OpenBase("P" + Stem + ".pkt", 0);
    ASSERT_TRUE(Base);
    tMessage M;
    for (int I = 1; I <= 2; ++I) {
      testing::FillNumbered(M, I, 40);
      ASSERT_FALSE(Base->WriteMessage(I, &M));
    }
  }
  auto Files = FilesOf(Stem, {"pkt"});
  const std::string& P = Files["pkt"];
  tSymbols S = {{"END", P.size() - 2}, {"T1", PktHeaderSize + 2 + PackedHeaderSize}};
  S["S1"] = static_cast<int64_t>(P.find('\0', P.find('\0', S["T1"]) + 1) + 1);  // the subject
  S["M2"] = static_cast<int64_t>(P.find(std::string("\0\2\0", 3), S["T1"]) + 1);
  size_t Text2 = S["M2"] + 2 + PackedHeaderSize;
  for (int Field = 0; Field < 3; ++Field) Text2 = P.find('\0', Text2) + 1;
  S["X2"] = static_cast<int64_t>(Text2);
  ASSERT_EQ(P.substr(S["T1"], 14), std::string("Sergey Ivanov\0", 14));
  ExpectDamageFindings("P" + Stem + ".pkt", Stem, Files, S, {
      {"as written", {}, {}},
      {"a type 2+ header", {{"pkt", "44", 2, "1"}, {"pkt", "40", 2, "0x100"}}, {}},
      {"capability word copy", {{"pkt", "44", 2, "1"}},
       {"pkt\t40\tthe capability word 0x0001 claims type 2+, but its byte-swapped copy is 0x0000, not 0x0100"}, true},
      {"message type", {{"pkt", "58", 2, "3"}}, {"pkt\t58\tmessage 1: message type 3, not 2"}, true},
      {"date without its NUL", {{"pkt", "91", 1, "0x78"}}, {"pkt\t72\tmessage 1: the date has no NUL within its 20 bytes"}, true},
      {"recipient too long", {{"pkt", "T1", -1, "xxxxxxxxxxxxxxxxxxxxxxx"}},
       {"pkt\t{T1}\tmessage 1: the recipient has 36 characters, more than the 35 a packet carries"}, true},
      {"subject too long", {{"pkt", "S1", -1, "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"}},
       {"pkt\t{S1}\tmessage 1: the subject has 72 characters, more than the 71 a packet carries"}, true},
      {"cut in the packed header", {{"pkt", "M2+10", 0, ""}},
       {"pkt\t{M2}\tmessage 2 is cut short: the file ends inside its packed header"}},
      {"cut in a text", {{"pkt", "END-1", 0, ""}},
       {"pkt\t{X2}\tmessage 2 is cut short: its text has no closing NUL before the end of the file"}},
      {"no closing zeros", {{"pkt", "END", 0, ""}}, {"pkt\t{END}\tthe packet ends without its two closing zero bytes"}},
      {"bytes after the end", {{"pkt", "END+2", 4, "0x41414141"}}, {"pkt\t{END+2}\t4 bytes after the closing zeros"}},
      {"shorter than its header", {{"pkt", "30", 0, ""}}, {"pkt\t30\tthe file ends inside the 58-byte packet header"}, true},
  }, false);
  PutFile(Stem + ".pkt", P.substr(0, 18) + "\3" + P.substr(19));
  tRun R = Command(RunCheckCommand, {"check", Stem + ".pkt"});
  EXPECT_EQ(R.Code, 2);
  EXPECT_EQ(R.Out, "checked\t" + Stem + ".pkt\tcannot be read: packet type 3 at offset 18, not 2: no reader takes it for "
                   "a type-2 packet\n");
  ExpectCheckSurvives("P" + Stem + ".pkt", Stem, Files);
}

// Bases other software wrote: the samples are clean.
TEST(KelvutilCheckReal, TheSamplesAreClean) {
  for (std::string Id : {"S" KELVANE_SQUISH_SAMPLES "/net", "S" KELVANE_SQUISH_SAMPLES "/one",
                         "S" KELVANE_SQUISH_SAMPLES "/empty", "J" KELVANE_SQUISH_SAMPLES "/../jam/net"}) {
    tRun R = Command(RunCheckCommand, {"check", Id});
    EXPECT_EQ(R.Code, 0) << R.Out;
  }
}

// JAM bases crashmail tossed, with an echo thread it linked, and the
// packets crashwrite made: clean, or only the faults crashmail is known
// for, told as such.
class KelvutilCheckCrashmailJam : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::tCrashmailNode::Available()) GTEST_SKIP() << "crashmail and crashwrite are not here (POSIX only)";
  }
  testing::tCrashmailNode Node{"2:5020/1", "2:5020/2", testing::tCrashmailNode::naJam};
};

TEST_F(KelvutilCheckCrashmailJam, OnlyItsKnownFaults) {
  for (int I = 1; I <= 3; ++I) {
    std::string Kludges = "\x01MSGID: 2:5020/2 0000000" + std::to_string(I) + "\r";
    if (I > 1) Kludges += "\x01REPLY: 2:5020/2 00000001\r";
    ASSERT_TRUE(Node.Write(Kludges + "Body " + std::to_string(I) + "\r",
                           "FROMNAME Writer FROMADDR 2:5020/2 TONAME All TOADDR 2:5020/1 SUBJECT 'thread' AREA ECHO.JAM "
                           "ORIGIN 'Node Two' PKTFROMADDR 2:5020/2 PKTTOADDR 2:5020/1 NOMSGID"));
  }
  ASSERT_TRUE(Node.WriteCorpus()) << Node.Log();
  // What our library makes of them checks clean in every format.
  for (const char* To : {"Scopy", "Jcopy", "Pcopy.pkt"}) {
    const std::string Id = To[0] + Node / (To + 1);
    for (const char* Src : {"jam/netmail", "jam/echo"}) {
      std::vector<std::string> Args{"copy", "J" + Node / Src, Id, "--pkt-from", "2:5020/2", "--pkt-to", "2:5020/1"};
      if (To[0] != 'P') Args.resize(3);
      ASSERT_EQ(Command(RunCopyCommand, Args).Code, 0) << To;
    }
    tRun C = Command(RunCheckCommand, {"check", Id});
    EXPECT_EQ(C.Code, 0) << C.Out;
  }
  std::vector<std::string> Args = {"check", "J" + Node / "jam/netmail", "J" + Node / "jam/echo"};
  for (const std::string& Packet : Node.Files("made")) Args.push_back("P" + Packet);
  tWriteAlarm Alarm;
  testing::tFileSystemScope Scope(Alarm);
  tRun R = Command(RunCheckCommand, Args);
  EXPECT_LE(R.Code, 1) << R.Out;
  for (const std::string& L : Lines(R.Out))
    if (L.rfind("checked\t", 0) != 0) {
      EXPECT_NE(L.find("this CRC wrong (crashmail's JAM code is known to write wrong CRCs, and the base bears its "
                       "mark, the fixed header's PasswordCRC 0x"),
                std::string::npos)
          << L;
    }
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
  EXPECT_EQ(R.Code, 1);  // for the wrong line
  EXPECT_EQ(R.Err, "kelvutil plan: warning: no FromName or FromAddr: requests from anyone are accepted\n"
                   "kelvutil plan: kelv.ctl has 1 wrong line\n");
  const size_t Bytes = Cfg.size();
  const std::string Busy = "FastEcho is busy: kelvane would quit, none of its files deleted";
  EXPECT_EQ(Lines(R.Out), (std::vector<std::string>{
                              "control\tkelv.ctl",
                              "wrong-line\t6\tunknown keyword [Frobnicate]",
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
                              "base\tECHO.MSG\tbases\\echo_msg\\\tkept\t" + Busy,
                              "base\tECHO.SQ\tbases\\sq\tkept\t" + Busy,
                              "base\tSHARED.A\tbases\\shared\tkept\tis also the base of area [SHARED.B]",
                              "base\tNET.AREA\tnetmail\tkept\tis the netmail folder",
                              "base\tPASS\t\tnone\tthe area has no base path",
                          }));
  EXPECT_EQ(Snapshot("."), Before);

  PutFile("kelv.ctl", "FastEchoConfig missing.cfg\r\n");
  R = Command(RunPlanCommand, {"plan"});
  EXPECT_EQ(R.Code, 1);
  EXPECT_EQ(Lines(R.Err).back(), "kelvutil plan: cannot load [missing.cfg]: there is no such file");
}


// --- pack --------------------------------------------------------------
//
// A base that lived: appends, deletes, rewrites and reply links, the same
// every run.
void MakeLivedBase(const std::string& Id) {
  auto Base = OpenBase(Id, 0);
  ASSERT_TRUE(Base);
  tMessage M;
  uint32_t R = 12345;
  auto Next = [&R](size_t N) { return (R = R * 1103515245u + 12345u, (R >> 16) % N); };
  for (int I = 1; I <= 90; ++I) {
    std::vector<int32_t> Have = MessageNumbers(*Base);
    const size_t Op = Have.size() > 3 ? Next(5) : 4;
    const int32_t Some = Have.empty() ? 0 : Have[Next(Have.size())];
    testing::FillNumbered(M, I, 40 + Next(300));
    if (Op == 1) {
      Base->LinkReply(Have.front(), Some);
    } else {
      ASSERT_FALSE(Op == 0 ? Base->DeleteMessage(Some) : Base->WriteMessage(Op == 2 ? Some : Base->Count + 1, &M));
    }
  }
}

// Fails the Nth write, flush to the disk or rename from the moment it is
// installed.
class tFailAt : public tForwardingFileSystem {
 public:
  explicit tFailAt(int N) : Left_(N) {}
  int32_t Write(intptr_t H, const void* B, uint32_t C) override { return Hit() ? -1 : Real().Write(H, B, C); }
  bool Sync(intptr_t H) override { return !Hit() && Real().Sync(H); }
  bool SyncDir(std::string_view P) override { return !Hit() && Real().SyncDir(P); }
  bool Replace(std::string_view S, std::string_view T) override { return !Hit() && Real().Replace(S, T); }
  bool Reached() const { return Left_ <= 0; }

 private:
  bool Hit() { return --Left_ == 0; }
  int Left_;
};

// Packed, a base keeps every live message as show prints it (UMSGIDs,
// links, attributes, texts), its last-read file as it was, and checks
// clean; a pack failed at any write leaves the old base or, once the next
// run has put the new files in place, the new one.
TEST(KelvutilPack, EveryLiveMessageKeptAndAFailureLeavesOldOrNew) {
  const struct {
    char Letter;
    std::vector<const char*> Files;  // the base's, the last-read file last
  } Formats[] = {{'S', {"sqd", "sqi", "sql"}}, {'J', {"jhr", "jdt", "jdx", "jlr"}}};
  for (const auto& F : Formats) {
    SCOPED_TRACE(F.Letter);
    tRuntimeTempDir T;
    const std::string Stem = T / "b", Id = F.Letter + Stem;
    MakeLivedBase(Id);
    PutFile(Stem + "." + F.Files.back(), std::string("\x05\0\0\0\x07\0\0\0", 8));  // two readers' last-read records
    std::map<std::string, std::string> Before;
    for (const char* E : F.Files) Before[E] = GetFile(Stem + "." + E);
    const auto Shown = ShownAll(Id);
    ASSERT_GT(Shown.size(), 10u);
    tRun R = Command(RunPackCommand, {"pack", Id});
    ASSERT_EQ(R.Code, 0) << R.Out;
    EXPECT_NE(R.Out.find("\t" + std::to_string(Shown.size()) + " messages kept\t0 findings mended\n"), std::string::npos)
        << R.Out;
    std::map<std::string, std::string> Packed;
    for (const char* E : F.Files) Packed[E] = GetFile(Stem + "." + E);
    EXPECT_LT(Packed[F.Files[0]].size(), Before[F.Files[0]].size());
    EXPECT_EQ(Packed[F.Files.back()], Before[F.Files.back()]);
    EXPECT_EQ(ShownAll(Id), Shown);
    EXPECT_EQ(Command(RunCheckCommand, {"check", Id}).Code, 0);
    // Failed at the Nth write, flush or rename, for every N until one
    // passes them all.
    for (int N = 1;; ++N) {
      for (const auto& [E, Bytes] : Before) PutFile(Stem + "." + E, Bytes);
      tFailAt Fail(N);
      tRun Failed;
      {
        testing::tFileSystemScope Scope(Fail);
        Failed = Command(RunPackCommand, {"pack", Id});
      }
      if (!Fail.Reached()) {
        EXPECT_EQ(Failed.Code, 0) << Failed.Out;
        break;
      }
      SCOPED_TRACE("failed at " + std::to_string(N) + ": " + Failed.Out);
      if (Failed.Code == 0) continue;  // the failed call was not one the pack needed
      if (FileExists(Stem + PackSuffix)) {  // check names it, repair finishes it
        tRun Checked = Command(RunCheckCommand, {"check", Id});
        EXPECT_EQ(Checked.Code, 1);
        EXPECT_NE(Checked.Out.find(Stem + PackSuffix + "\t0\ta pack or repair was cut off"), std::string::npos)
            << Checked.Out;
        EXPECT_EQ(Command(RunRepairCommand, {"repair", Id}).Code, 0);
      }
      bool IsOld = true, IsNew = true;
      for (const char* E : F.Files) {
        IsOld = IsOld && GetFile(Stem + "." + E) == Before[E];
        IsNew = IsNew && GetFile(Stem + "." + E) == Packed[E];
      }
      EXPECT_TRUE(IsOld || IsNew);
      EXPECT_EQ(ShownAll(Id), Shown);
      for (const char* E : F.Files) EXPECT_FALSE(FileExists(Stem + "." + E + PackSuffix)) << E;
    }
  }
}

// A program that writes to a base without the lock while it is packed
// (here just before the new files take their names) makes the pack give
// up: the base stays as that program left it, without marker or new files.
TEST(KelvutilPack, AWriteWithoutTheLockMakesThePackGiveUp) {
  class tWriteAtFirstRename : public tForwardingFileSystem {
   public:
    explicit tWriteAtFirstRename(std::string Locked) : Locked_(std::move(Locked)) {}
    bool Replace(std::string_view S, std::string_view T) override {
      if (!Done_) std::ofstream(Locked_, std::ios::binary | std::ios::app) << "x";
      Done_ = true;
      return Real().Replace(S, T);
    }

   private:
    std::string Locked_;
    bool Done_ = false;
  };
  for (const char* Kind : {"Ssqd", "Jjhr"}) {
    SCOPED_TRACE(Kind);
    tRuntimeTempDir T;
    const std::string Stem = T / "b", Id = Kind[0] + Stem, Locked = Stem + "." + (Kind + 1);
    MakeLivedBase(Id);
    const std::string Before = GetFile(Locked);
    tWriteAtFirstRename Writer(Locked);
    tRun R;
    {
      testing::tFileSystemScope Scope(Writer);
      R = Command(RunPackCommand, {"pack", Id});
    }
    EXPECT_EQ(R.Code, 1);
    EXPECT_NE(R.Out.find("changed while the base was rewritten"), std::string::npos) << R.Out;
    EXPECT_EQ(GetFile(Locked), Before + "x");
    for (const auto& E : std::filesystem::directory_iterator(T.Path()))
      EXPECT_EQ(E.path().string().find(PackSuffix), std::string::npos) << E.path();
  }
}

// The Squish samples of other software, packed as copies: every message
// reads back as before (UMSGIDs, links, texts), with the UMSGID that
// software's own read-back gives it; the killed message's frame is gone.
TEST(KelvutilPack, TheSquishSamplesReadBackAsBefore) {
  tRuntimeTempDir T;
  for (const std::string Name : {"net", "one", "empty"}) {
    SCOPED_TRACE(Name);
    const std::string Sample = KELVANE_SQUISH_SAMPLES "/" + Name, Id = "S" + T / Name;
    for (const char* E : {".sqd", ".sqi"}) PutFile(T / (Name + E), GetFile(Sample + E));
    const auto Shown = ShownAll(Id);
    tRun R = Command(RunPackCommand, {"pack", Id});
    EXPECT_EQ(R.Code, 0) << R.Out;
    EXPECT_EQ(ShownAll(Id), Shown);
    EXPECT_EQ(Command(RunCheckCommand, {"check", Id}).Code, 0);
    std::string Dump = FileExists(Sample + ".dump.txt") ? Sample + ".dump.txt" : Sample + "-killed.dump.txt";
    size_t Messages = 0;
    for (const std::string& L : Lines(GetFile(Dump))) {
      if (L.rfind("msg ", 0) != 0) continue;
      unsigned long N = 0, Uid = 0;
      ASSERT_EQ(std::sscanf(L.c_str(), "msg %lu uid %lu", &N, &Uid), 2) << L;
      EXPECT_NE(Shown.at(std::to_string(N)).find("\nSquishUmsgId\t" + std::to_string(Uid) + "\n"), std::string::npos)
          << L;
      ++Messages;
    }
    EXPECT_EQ(Shown.size(), Messages);
  }
  EXPECT_EQ(GetFile(T / "one.sqd").size(), SqBaseSize);
}

// A base crashmail tossed and its maintenance run thinned (KEEPNUM: it
// marks headers deleted, mangling their fields, and not always the ones it
// says), packed: the messages it kept list and read as before and the base
// checks clean. crashmail then tosses into the packed base and jamnntpd
// serves it.
TEST_F(KelvutilCheckCrashmailJam, PackedAfterItsMaintenanceThenTossedIntoAndServed) {
  if (!testing::ProgramsInstalled({"crashmaint", "jamnntpd", "python3"})) GTEST_SKIP() << "crashmaint or jamnntpd is not here";
  auto Echo = [this](int I) {
    return Node.Write("\x01MSGID: 2:5020/2 0000000" + std::to_string(I) + "\rBody " + std::to_string(I) + "\r",
                      "FROMNAME Writer FROMADDR 2:5020/2 TONAME All TOADDR 2:5020/1 SUBJECT 'echo " +
                          std::to_string(I) + "' AREA ECHO.JAM ORIGIN 'Node Two' PKTFROMADDR 2:5020/2 "
                          "PKTTOADDR 2:5020/1 NOMSGID");
  };
  const std::string Id = "J" + Node / "jam/echo";
  // The subjects list shows, with ODD: only the messages of odd numbers.
  auto Subjects = [&Id](bool Odd = false) {
    std::vector<std::string> Out;
    for (std::string L : Lines(Command(RunListCommand, {"list", Id}).Out)) {
      const bool Skip = Odd && std::stoi(L) % 2 == 0;
      for (int Field = 0; Field < 5; ++Field) L.erase(0, L.find('\t') + 1);
      if (!Skip) Out.push_back(L.substr(0, L.find('\t')));
    }
    return Out;
  };
  for (int I = 1; I <= 6; ++I) ASSERT_TRUE(Echo(I));
  ASSERT_TRUE(Node.Toss()) << Node.Log();
  Node.AddPrefs("KEEPNUM 3");
  Node.Run("crashmaint SETTINGS " + Node.Path() + "/prefs MAINT");
  std::vector<std::string> Want = Subjects();
  ASSERT_LT(Want.size(), 6u) << Node.Log();
  const auto Kept = ListedAndTexts(Id);
  tRun R = Command(RunPackCommand, {"pack", Id});
  EXPECT_EQ(R.Code, 0) << R.Out;
  EXPECT_EQ(ListedAndTexts(Id), Kept);
  EXPECT_EQ(Command(RunCheckCommand, {"check", Id}).Code, 0);
  for (int I = 7; I <= 10; ++I) {
    ASSERT_TRUE(Echo(I));
    Want.push_back("echo " + std::to_string(I));
  }
  ASSERT_TRUE(Node.Toss()) << Node.Log();
  EXPECT_EQ(Subjects(), Want);
  // jamnntpd's 64-bit build reads the index in 16-byte steps: it serves
  // messages 1, 3, 5 ... (a deleted number is an article it cannot read).
  tRuntimeTempDir Server;
  std::vector<std::string> Served;
  for (const testing::tArticle& A : testing::Serve(Server, "ECHO.JAM", Node / "jam/echo")) {
    Served.push_back(A.Header.count("Subject") ? A.Header.at("Subject") : "");
    EXPECT_EQ(A.Body.rfind("Body " + Served.back().substr(5) + "\n", 0), 0u) << A.Body;
  }
  EXPECT_EQ(Served, Subjects(true)) << GetFile(Server / "nntp.log");
}

}  // namespace
}  // namespace kelvane
