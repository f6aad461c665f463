// fegen: writes a FastEcho configuration of a chosen size and shape, for the
// demo node, the end-to-end tests and the benchmarks. The layout is done by
// fegen_lib; this file only reads the command line and writes the file.
#include <cstdio>
#include <string>

#include "runtime/stream.h"
#include "tools/fegen_lib.h"

int main(int Argc, char** Argv) {
  using namespace kelvane;
  tFeGenOptions Options;
  std::string OutPath, Error;
  bool Help = false;
  if (!FeGenParseArgs(Argc, Argv, Options, OutPath, Help, Error)) {
    std::fprintf(stderr, "fegen: %s\n\n%s", Error.c_str(), FeGenHelpText);
    return 1;
  }
  if (Help) {
    std::fputs(FeGenHelpText, stdout);
    return 0;
  }
  std::vector<uint8_t> Bytes = FeGenerate(Options);
  tBufStream Out(OutPath, fmCreate);
  Out.Write(Bytes.data(), static_cast<uint32_t>(Bytes.size()));
  bool Failed = Out.Status != stOk;
  if (!Out.Close()) Failed = true;
  if (Failed) {
    std::fprintf(stderr, "fegen: cannot write %s\n", OutPath.c_str());
    return 1;
  }
  return 0;
}
