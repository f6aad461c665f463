// kelvutil fecfg: what kelvane reads from a FastEcho configuration, one
// record a line, so a sysop can see which areas a removal would touch and a
// test can compare a file before and after.
#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include "fecfg/feconfig.h"
#include "tools/kelvutil.h"

namespace kelvane {

const char FecfgHelp[] =
    "Loads FILE as kelvane does and prints, separated by tabs:\n"
    "\n"
    "  revision, nodecount, areacount, netmail, semaphore, areabitmapbits,\n"
    "  nodebitmapbits, extensionlength   one line each: NAME VALUE\n"
    "  block POSITION TYPE LENGTH RECORDS   each extension block, TYPE in hex,\n"
    "                                       LENGTH the BlockLength as stored\n"
    "  area POSITION TAG BASETYPE PATH LINKINDEX LINKEDNODES\n"
    "                                       each area; BASETYPE is StorageWord\n"
    "                                       and 0x6F, LINKEDNODES the nodes whose\n"
    "                                       bitmap holds bit LINKINDEX\n"
    "  node POSITION LINKEDAREAS BITSSET    each node; LINKEDAREAS counts the\n"
    "                                       areas it is linked to, BITSSET every\n"
    "                                       set bit of its bitmap\n"
    "\n"
    "Positions count from 0. Text is printed as stored (code page 866).\n"
    "Exit code 1 when the file cannot be loaded.\n";

int RunFecfgCommand(int Argc, char** Args) {
  if (Argc != 2) return Fail("fecfg", "expects one FILE (see --help)");
  tFastEchoConfig Config;
  if (Config.Load(Args[1])) return Fail("fecfg", (std::string("cannot load ") + Args[1]).c_str());

  const tFEConfigHeader& H = Config.Header;
  std::printf("revision\t%u\nnodecount\t%u\nareacount\t%u\n", H.Revision(), H.NodeCount(), H.AreaCount());
  std::printf("netmail\t%s\nsemaphore\t%s\n", Config.NetmailPath().CStr(), Config.SemaphorePath().CStr());
  std::printf("areabitmapbits\t%u\nnodebitmapbits\t%u\nextensionlength\t%" PRId32 "\n", H.AreaBitmapBits(),
              H.NodeBitmapBits(), H.ExtensionLength());
  for (size_t I = 0; I < Config.Extensions.Count(); ++I) {
    const tFEExtBlock& B = Config.Extensions[I];
    std::printf("block\t%zu\t0x%04X\t%" PRId32 "\t%zu\n", I, B.BlockType, B.BlockLength, B.Records.Count());
  }

  std::vector<uint32_t> LinkedAreas(Config.Nodes.Count(), 0);
  for (size_t I = 0; I < Config.Areas.Count(); ++I) {
    const tFEAreaRecord& A = Config.Areas[I];
    uint32_t Linked = 0;
    for (size_t N = 0; N < Config.Nodes.Count(); ++N)
      if (Config.Nodes[N].IsLinked(A.LinkIndex())) {
        ++Linked;
        ++LinkedAreas[N];
      }
    std::printf("area\t%zu\t%s\t%d\t%s\t%u\t%u\n", I, A.Tag().CStr(), Config.AreaBaseType(static_cast<int32_t>(I)),
                A.BasePath().CStr(), A.LinkIndex(), Linked);
  }
  for (size_t N = 0; N < Config.Nodes.Count(); ++N) {
    uint32_t Bits = 0;
    for (uint8_t Byte : Config.Nodes[N].AreaBitmap)
      for (uint8_t M = 0x80; M; M >>= 1) Bits += (Byte & M) != 0;
    std::printf("node\t%zu\t%u\t%u\n", N, LinkedAreas[N], Bits);
  }
  return 0;
}

}  // namespace kelvane
