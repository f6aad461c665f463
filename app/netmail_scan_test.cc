// The scan on a console of its own: what the sysop sees while it walks.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/application.h"
#include "msgbase/test_fs.h"
#include "runtime/console.h"
#include "runtime/file_system.h"
#include "runtime/test_dir.h"
#include "tools/fegen_lib.h"

namespace kelvane {
namespace {

using testing::GetFile;
using testing::IsFile;
using testing::PutFile;
using testing::tCallCount;
using testing::tRuntimeTempDir;

// A stored message from From to B whose one body line is Body.
std::string MessageFile(const std::string& Body, char From = 'A', const std::string& Subject = "rm!") {
  std::string Header(190, '\0');
  Header[0] = From;
  Header[36] = 'B';
  Header.replace(72, Subject.size(), Subject);
  return Header + Body + "\r" + std::string(1, '\0');
}

// The application set to take requests with the subject "rm!" whose lines
// "-TAG" name areas, its netmail the folder Dir.
void TakeRequests(tApplication& App, const std::string& Dir) {
  App.MatchPatterns.Append("^-(.*)$");
  App.MatchTemplates.Append("\\0");
  App.Subjects.Insert("RM!");
  ASSERT_LT(Dir.size(), fePathWidth);
  Dir.copy(reinterpret_cast<char*>(&App.Config.Header.Bytes[feHdrNetmailDir]), Dir.size());
}


TEST(NetmailScan, OnANarrowConsoleEveryRowStays) {
  // The wipe of the progress line must not reach the last column: where it
  // wrapped, every message left an empty row and the results scrolled away.
  tRuntimeTempDir Dir;
  for (int N = 1; N <= 3; ++N) PutFile(Dir / (std::to_string(N) + ".msg"), MessageFile("-X" + std::to_string(N)));
  tApplication App;
  TakeRequests(App, Dir.Path());

  for (int Width : {30, 45, 59, 60, 80}) {
    SCOPED_TRACE(Width);
    tModelConsole Screen(Width, 40);
    SetConsole(&Screen);
    App.ScanNetmail();
    SetConsole(nullptr);
    App.DisposeNetmail();
    std::vector<std::string> Rows;
    for (int Y = 0; Y <= Screen.Screen.CursorY(); ++Y) Rows.push_back(Screen.Screen.RowText(Y));
    ASSERT_GE(Rows.size(), 7u);
    // The heading, then the three requests and their areas, no row empty
    // between them.
    int Valid = 0;
    for (size_t Y = 1; Y + 1 < Rows.size(); ++Y) {
      EXPECT_FALSE(Rows[Y].empty()) << Y;
      Valid += Rows[Y].find("valid msg #") != std::string::npos;
    }
    EXPECT_EQ(Valid, 3);
  }
}

// Message N of the netmail folder of MakeNode.
std::string NetmailFile(const tRuntimeTempDir& Dir, int N) {
  return Dir / "netmail" + PathSeparator + std::to_string(N) + ".msg";
}

// A node in Dir: FastEcho's configuration fe.cfg with the Squish areas
// GOES, SHARED and STAYS (these two on one base), OTHER and PASS, each
// base's files there; kelv.ctl taking every message from A as a request
// and each line "-TAG" as a tag, with Extra; the netmail folder holding
// Bodies[I] as message I + 1, from Z where the body begins with "!".
void MakeNode(const tRuntimeTempDir& Dir, const std::vector<std::string>& Bodies, const std::string& Extra = "") {
  tFeGenOptions O;
  O.Areas = 0, O.ZeroFill = true, O.NetmailDir = Dir / "netmail", O.SemaphoreDir = Dir.Path();
  for (const char* Tag : {"GOES", "SHARED", "STAYS", "OTHER", "PASS"}) {
    std::string Base = Dir / (std::string(Tag) == "STAYS" ? "SHARED" : Tag);
    O.ExplicitAreas.push_back({Tag, 2, Base});
    for (const char* Ext : {".sqd", ".sqi"}) PutFile(Base + Ext, "");
  }
  std::vector<uint8_t> Bytes = FeGenerate(O);
  PutFile(Dir / "fe.cfg", std::string(Bytes.begin(), Bytes.end()));
  PutFile(Dir / "kelv.ctl", "FastEchoConfig " + (Dir / "fe.cfg") + "\nFromName A\nMatchStr ^-(.*)$ | \\0\nStopScanAfter ---\n" + Extra);
  std::filesystem::create_directory(Dir / "netmail");
  for (size_t I = 0; I < Bodies.size(); ++I) {
    PutFile(NetmailFile(Dir, static_cast<int>(I + 1)), MessageFile(Bodies[I], Bodies[I][0] == '!' ? 'Z' : 'A'));
  }
}

TEST(NetmailScan, TheWalkRemovesWhatRequestsNameAndNotesTheirBases) {
  tRuntimeTempDir Dir;
  MakeNode(Dir, {"-GOES\r-NOSUCH\r", "!-OTHER\r", "x\r--- end\r-PASS\r", "-SHARED\r"});
  tControlSettings S;
  tCollection<tWrongLine> Wrong;
  ASSERT_FALSE(LoadControlFile(Dir / "kelv.ctl", S, Wrong));
  tFastEchoConfig Config;
  ASSERT_FALSE(Config.Load(Dir / "fe.cfg"));
  const tRemovalRules Rules(S, Dir / "kelv.ctl", Config.NetmailPath());
  std::unique_ptr<tMsgBase> Netmail;
  tMessage Msg;
  std::vector<tBaseToGo> Bases;
  std::vector<tRequestRead> Requests;
  tScanListener Quiet;
  EXPECT_TRUE(WalkNetmail(Config, Rules, Netmail, Msg, Bases, Requests, Quiet));
  std::string Left, Gone, Read;
  for (size_t I = 0; I < Config.Areas.Count(); ++I) Left += Config.Areas[I].Tag().ToStdString() + " ";
  for (const tBaseToGo& B : Bases) Gone += B.Tag.ToStdString() + "=" + std::to_string(B.Fate) + " ";
  for (const tRequestRead& R : Requests) Read += std::to_string(R.Number) + " ";
  EXPECT_EQ(Left, "STAYS OTHER PASS ");
  EXPECT_EQ(Gone, "GOES=1 SHARED=4 ");  // bfDelete, bfShared
  EXPECT_EQ(Read, "1 3 4 ");
}

// The run in order: the configuration is stored before any base goes and
// any request is marked; when the store fails, neither happens.
TEST(NetmailScan, BasesGoAndRequestsAreMarkedOnlyAfterTheStore) {
  // FastEcho's configuration cannot be put in place; anything else can.
  class tNoReplace : public tForwardingFileSystem {
    bool Replace(std::string_view S, std::string_view T) override {
      return !T.ends_with("fe.cfg") && Real().Replace(S, T);
    }
  };
  for (bool StoreFails : {false, true}) {
    tRuntimeTempDir Dir;
    MakeNode(Dir, {"-GOES\r"}, "MarkRequests yes\n");
    const std::string Config = GetFile(Dir / "fe.cfg"), Request = GetFile(NetmailFile(Dir, 1));
    std::filesystem::path Was = std::filesystem::current_path();
    std::filesystem::current_path(Dir.Path());
    tModelConsole Screen(80, 100);
    SetConsole(&Screen);
    tApplication App;
    App.Init();
    if (StoreFails) {
      EXPECT_EXIT(
          {
            tNoReplace Fs;
            testing::tFileSystemScope Scope(Fs);
            App.Run();
          },
          ::testing::ExitedWithCode(exitStoreFailed), "");
    } else {
      App.Run();
    }
    SetConsole(nullptr);
    std::filesystem::current_path(Was);
    EXPECT_EQ(GetFile(Dir / "fe.cfg") == Config, StoreFails);
    EXPECT_EQ(IsFile(Dir / "GOES.sqd"), StoreFails);
    EXPECT_EQ(GetFile(NetmailFile(Dir, 1)) == Request, StoreFails);
  }
}

// A request is read from its file line by line as the scan needs it: a
// line far longer than any block is cut to 255 characters, and the lines
// after it are read as ever. Each message costs its file one open and one
// read (one per block for a long one), and no other question.
TEST(NetmailScan, EachFileIsOpenedOnceAndARequestReadLineByLine) {
  tRuntimeTempDir Dir;
  for (int N = 1; N <= 20; ++N) PutFile(Dir / (std::to_string(N) + ".msg"), MessageFile("-N" + std::to_string(N), 'A', "hi"));
  std::string Long(1, '-');
  Long.append(240, 'L').append(300000, 'x');
  PutFile(Dir / "21.msg", MessageFile("-ONE\r" + Long + "\r\n\r-TWO\n-" + std::string(300, 'T')));
  tApplication App;
  TakeRequests(App, Dir.Path());
  // What follows the L of the long line: 14 x of it are within its 255
  // characters.
  App.MatchPatterns.Append("^-L+(x*)$");
  App.MatchTemplates.Append("\\0");
  tModelConsole Screen(80, 40);
  SetConsole(&Screen);
  tCallCount Fs;
  SetFileSystem(&Fs);
  App.ScanNetmail();
  SetFileSystem(nullptr);
  SetConsole(nullptr);
  App.DisposeNetmail();
  // The rows of a long line follow each other whole.
  std::string Shown;
  for (int Y = 0; Y <= Screen.Screen.CursorY(); ++Y) Shown += Screen.Screen.RowText(Y);
  std::vector<std::string> Areas;
  for (size_t At = Shown.find("area ["); At != std::string::npos; At = Shown.find("area [", At + 1))
    Areas.push_back(Shown.substr(At, Shown.find(';', At) - At));
  ASSERT_EQ(Areas.size(), 5u);
  EXPECT_EQ(Areas[0], "area [ONE] not found");
  EXPECT_EQ(Areas[2], "area [" + std::string(14, 'x') + "] not found");
  EXPECT_EQ(Areas[3], "area [TWO] not found");
  // The 21 messages and the folder's last-read file; the long message is
  // read a block at a time, a few times over.
  EXPECT_LE(Fs.Opens, 22);
  EXPECT_LE(Fs.Reads, 20 + 3 * (300000 / 65536 + 2));
  EXPECT_LE(Fs.Lookups + Fs.Sizes, 1);  // whether the last-read file is there
}

}  // namespace
}  // namespace kelvane
