// What every kelvutil subcommand shares: the help switch, the failure
// line, and the escaping of control bytes in what it prints.
#include <cstdio>
#include <cstring>

#include "tools/kelvutil.h"

namespace kelvane {

bool WantsHelp(int Argc, char** Args) {
  for (int I = 1; I < Argc; ++I)
    if (std::strcmp(Args[I], "--help") == 0 || std::strcmp(Args[I], "-h") == 0) return true;
  return false;
}

int Fail(const char* Name, const char* Message) {
  std::fprintf(stderr, "kelvutil %s: %s\n", Name, Message);
  return 1;
}

std::string Escaped(std::string_view Text) {
  std::string Out;
  Out.reserve(Text.size());
  for (char C : Text) {
    uint8_t B = static_cast<uint8_t>(C);
    if (B < 0x20 || B == 0x7F) {
      Out += '^';
      Out += static_cast<char>(B ^ 0x40);  // ^@ ^A ... ^[ ^\ ^] ^^ ^_, and ^? for DEL
    } else {
      Out += C;
    }
  }
  return Out;
}

}  // namespace kelvane
