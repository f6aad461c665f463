// kelvutil fecfg: what kelvane reads from a FastEcho configuration, one
// record a line, so a sysop can see which areas a removal would touch (and
// which nodes lose a link) and a test can compare a file before and after.
// A file that does not load says why.
#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include "fecfg/feconfig.h"
#include "msgbase/address.h"
#include "tools/kelvutil.h"

namespace kelvane {

const char FecfgHelp[] =
    "Loads FILE as kelvane does and prints, separated by tabs, in the order\n"
    "of the file:\n"
    "\n"
    "  revision, nodecount, areacount, netmail, semaphore, areabitmapbits,\n"
    "  nodebitmapbits, extensionlength   one line each: NAME VALUE\n"
    "  block POSITION TYPE LENGTH RECORDS   each extension block, TYPE in hex,\n"
    "                                       LENGTH the BlockLength as stored\n"
    "  node POSITION ADDRESS LINKEDAREAS BITSSET\n"
    "                                       each node: its address (zone, net,\n"
    "                                       node, point from the first eight\n"
    "                                       bytes of its record), the areas it\n"
    "                                       is linked to, every set bit of its\n"
    "                                       area bitmap\n"
    "  area POSITION TAG BASETYPE TYPENAME PATH LINKINDEX LINKEDNODES LINKS\n"
    "                                       each area; BASETYPE is StorageWord\n"
    "                                       and 0x6F, TYPENAME what kelvane\n"
    "                                       takes it for (*.MSG, Squish, JAM;\n"
    "                                       none for 0 and 7, which have no base\n"
    "                                       to delete; by its path for others),\n"
    "                                       LINKEDNODES the nodes whose bitmap\n"
    "                                       holds bit LINKINDEX, LINKS their\n"
    "                                       addresses, separated by blanks\n"
    "\n"
    "Positions count from 0. Text is printed as stored (code page 866, as\n"
    "UTF-8 on Linux), with control characters as ^ and a letter. A file that cannot be loaded\n"
    "exits with 1 and says why: missing, in use, a revision other than 6, or\n"
    "shorter than its header says, and where.\n";

int RunFecfgCommand(int Argc, char** Args) {
  if (Argc != 2) return Fail("fecfg", "expects one FILE (see --help)");
  tFastEchoConfig Config;
  if (Config.Load(Args[1]))
    return Fail("fecfg", std::string("cannot load ") + Args[1] + ": " +
                             FELoadReportText(tFastEchoConfig::WhyLoadFails(Args[1])).ToStdString());

  const tFEConfigHeader& H = Config.Header;
  auto Num = [](long long V) { return IntToStr(V); };
  tTextOut& O = Out();
  O.Record({"revision", Num(H.Revision())});
  O.Record({"nodecount", Num(H.NodeCount())});
  O.Record({"areacount", Num(H.AreaCount())});
  O.Record({"netmail", Config.NetmailPath()});
  O.Record({"semaphore", Config.SemaphorePath()});
  O.Record({"areabitmapbits", Num(H.AreaBitmapBits())});
  O.Record({"nodebitmapbits", Num(H.NodeBitmapBits())});
  O.Record({"extensionlength", Num(H.ExtensionLength())});
  for (size_t I = 0; I < Config.Extensions.Count(); ++I) {
    const tFEExtBlock& B = Config.Extensions[I];
    char Type[16];
    std::snprintf(Type, sizeof Type, "0x%04X", B.BlockType);
    O.Record({"block", Num(static_cast<long long>(I)), Type, Num(B.BlockLength),
              Num(static_cast<long long>(B.Records.Count()))});
  }

  std::vector<tShortString> Addresses;
  for (const tFENodeEntry& Node : Config.Nodes) Addresses.push_back(AddrStr(Node.Zone(), Node.Net(), Node.Node(), Node.Point()));
  std::vector<uint32_t> LinkedAreas(Config.Nodes.Count(), 0);
  for (const tFEAreaRecord& A : Config.Areas)
    for (size_t N = 0; N < Config.Nodes.Count(); ++N) LinkedAreas[N] += Config.Nodes[N].IsLinked(A.LinkIndex());
  for (size_t N = 0; N < Config.Nodes.Count(); ++N) {
    uint32_t Bits = 0;
    for (uint8_t Byte : Config.Nodes[N].AreaBitmap)
      for (uint8_t M = 0x80; M; M >>= 1) Bits += (Byte & M) != 0;
    O.Record({"node", Num(static_cast<long long>(N)), Addresses[N], Num(LinkedAreas[N]), Num(Bits)});
  }
  for (size_t I = 0; I < Config.Areas.Count(); ++I) {
    const tFEAreaRecord& A = Config.Areas[I];
    uint32_t Linked = 0;
    std::string Links;
    for (size_t N = 0; N < Config.Nodes.Count(); ++N) {
      if (!Config.Nodes[N].IsLinked(A.LinkIndex())) continue;
      ++Linked;
      if (!Links.empty()) Links += ' ';
      Links += Addresses[N].View();
    }
    int16_t Type = Config.AreaBaseType(static_cast<int32_t>(I));
    O.Record({"area", Num(static_cast<long long>(I)), A.Tag(), Num(Type), AreaTypeName(Type), A.BasePath(),
              Num(A.LinkIndex()), Num(Linked), Links});
  }
  return 0;
}

}  // namespace kelvane
