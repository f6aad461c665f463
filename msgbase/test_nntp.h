// Test support: what a newsreader gets of a JAM base that jamnntpd, an
// independent NNTP server for JAM bases, serves on a loopback port
// (tests/jam_nntp.py). POSIX only; the tests that use it skip elsewhere.
// Needs KELVANE_SOURCE_DIR, the source tree.
#ifndef KELVANE_MSGBASE_TEST_NNTP_H_
#define KELVANE_MSGBASE_TEST_NNTP_H_

#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "runtime/test_dir.h"

namespace kelvane::testing {

struct tArticle {
  int Number = 0;
  std::map<std::string, std::string> Header;
  std::string Body;  // lines joined by "\n"
};

// Serves Base as the group Tag (posting PostFile first when given), with
// the server's files in T, and returns the articles a newsreader gets.
inline std::vector<tArticle> Serve(const tRuntimeTempDir& T, const std::string& Tag, const std::string& Base,
                                   const std::string& PostFile = "") {
  std::string Out = T / "articles.txt";
  std::string Command = "python3 '" + std::string(KELVANE_SOURCE_DIR) + "/tests/jam_nntp.py' '" + T.Path() + "' " +
                        Tag + " '" + Base + "' " + (PostFile.empty() ? "" : "'" + PostFile + "'") + " >'" + Out +
                        "' 2>'" + T / "nntp.err" + "'";
  EXPECT_EQ(std::system(Command.c_str()), 0) << GetFile(T / "nntp.err") << GetFile(T / "nntp.log");
  std::vector<tArticle> Articles;
  std::istringstream In(GetFile(Out));
  std::string L;
  bool InBody = false;
  while (std::getline(In, L)) {
    if (L.rfind("ARTICLE ", 0) == 0) {
      Articles.emplace_back();
      Articles.back().Number = std::stoi(L.substr(8));
      InBody = false;
    } else if (L == "." || Articles.empty()) {
      continue;
    } else if (InBody) {
      Articles.back().Body += (Articles.back().Body.empty() ? "" : "\n") + L;
    } else if (L.empty()) {
      InBody = true;
    } else {
      size_t Colon = L.find(": ");
      if (Colon != std::string::npos) Articles.back().Header[L.substr(0, Colon)] = L.substr(Colon + 2);
    }
  }
  return Articles;
}

}  // namespace kelvane::testing

#endif  // KELVANE_MSGBASE_TEST_NNTP_H_
