// The scan on a console of its own: what the sysop sees while it walks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/application.h"
#include "runtime/console.h"
#include "runtime/file_system.h"
#include "runtime/test_dir.h"

namespace kelvane {
namespace {

using testing::PutFile;
using testing::tCallCount;
using testing::tRuntimeTempDir;

// A stored message from A to B whose one body line is Body.
std::string MessageFile(const std::string& Body, const std::string& Subject = "rm!") {
  std::string Header(190, '\0');
  Header.replace(0, 1, "A");
  Header.replace(36, 1, "B");
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

// A request is read from its file line by line as the scan needs it: a
// line far longer than any block is cut to 255 characters, and the lines
// after it are read as ever. Each message costs its file one open and one
// read (one per block for a long one), and no other question.
TEST(NetmailScan, EachFileIsOpenedOnceAndARequestReadLineByLine) {
  tRuntimeTempDir Dir;
  for (int N = 1; N <= 20; ++N) PutFile(Dir / (std::to_string(N) + ".msg"), MessageFile("-N" + std::to_string(N), "hi"));
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
