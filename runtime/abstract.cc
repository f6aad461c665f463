// The stop for an operation a type does not supply.
#include "runtime/abstract.h"

#include <cstdio>
#include <cstdlib>

namespace kelvane {

void AbstractCall(const char* TypeName, const char* Operation) {
  std::fprintf(stderr, "abstract operation called: %s.%s\n", TypeName ? TypeName : "?", Operation ? Operation : "?");
  std::fflush(stderr);
  // A code of its own, apart from the program's 0 and 253..255.
  std::_Exit(211);
}

}  // namespace kelvane
