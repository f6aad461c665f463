// Test support for kelvutil's commands: a command run as main runs it,
// with its two streams caught, and the lines of what it printed.
#ifndef KELVANE_TOOLS_TEST_KELVUTIL_H_
#define KELVANE_TOOLS_TEST_KELVUTIL_H_

#include <string>
#include <vector>

#include "tools/kelvutil.h"

namespace kelvane::testing {

struct tRun {
  int Code;
  std::string Out, Err;
};

// Runs a command as main does, its two streams caught (as bytes).
inline tRun Command(int (*Which)(int, char**), std::vector<std::string> Args) {
  tTextOut O, E;
  SetOutputs(&O, &E);
  std::vector<char*> Argv;
  for (std::string& A : Args) Argv.push_back(A.data());
  int Code = Which(static_cast<int>(Argv.size()), Argv.data());
  SetOutputs(nullptr, nullptr);
  return {Code, O.Text(), E.Text()};
}

// The lines of a command's output, without their line ends.
inline std::vector<std::string> Lines(const std::string& Text) {
  std::vector<std::string> Out;
  for (size_t Start = 0, End; (End = Text.find('\n', Start)) != std::string::npos; Start = End + 1)
    Out.push_back(Text.substr(Start, End - Start));
  return Out;
}

}  // namespace kelvane::testing

#endif  // KELVANE_TOOLS_TEST_KELVUTIL_H_
