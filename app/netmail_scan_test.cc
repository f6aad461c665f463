// The scan on a console of its own: what the sysop sees while it walks.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/application.h"
#include "msgbase/test_fs.h"
#include "runtime/console.h"
#include "runtime/test_dir.h"
#include "tools/fegen_lib.h"

namespace kelvane {
namespace {

using testing::GetFile;
using testing::IsFile;
using testing::PutFile;
using testing::tRuntimeTempDir;

// A stored message from From to B whose one body line is Body.
std::string MessageFile(const std::string& Body, char From = 'A') {
  std::string Header(190, '\0');
  Header[0] = From;
  Header[36] = 'B';
  Header.replace(72, 3, "rm!");
  return Header + Body + "\r" + std::string(1, '\0');
}

TEST(NetmailScan, OnANarrowConsoleEveryRowStays) {
  // The wipe of the progress line must not reach the last column: where it
  // wrapped, every message left an empty row and the results scrolled away.
  tRuntimeTempDir Dir;
  for (int N = 1; N <= 3; ++N) PutFile(Dir / (std::to_string(N) + ".msg"), MessageFile("-X" + std::to_string(N)));
  tApplication App;
  App.MatchPatterns.Append("^-(.*)$");
  App.MatchTemplates.Append("\\0");
  std::string Netmail = Dir.Path();
  ASSERT_LT(Netmail.size(), fePathWidth);
  Netmail.copy(reinterpret_cast<char*>(&App.Config.Header.Bytes[feHdrNetmailDir]), Netmail.size());

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

}  // namespace
}  // namespace kelvane
