// The scan on a console of its own: what the sysop sees while it walks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/application.h"
#include "runtime/console.h"
#include "runtime/test_dir.h"

namespace kelvane {
namespace {

using testing::PutFile;
using testing::tRuntimeTempDir;

// A stored message from A to B whose one body line is Body.
std::string MessageFile(const std::string& Body) {
  std::string Header(190, '\0');
  Header.replace(0, 1, "A");
  Header.replace(36, 1, "B");
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

}  // namespace
}  // namespace kelvane
