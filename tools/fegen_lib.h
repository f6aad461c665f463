// The FastEcho configuration generator behind the fegen program. Tests, the
// demo and the benchmarks need configurations of every size and shape: many
// areas with sparse, unordered link indexes and every base type value, nodes
// with area bitmaps, extension blocks of each known and of unknown types, text
// fields that fill their whole width, code page 866 tags, and exact areas
// asked for by name. The bytes are laid out here on their own, field by
// field, without the fecfg library, so that a test of the loader does not
// check the code against itself. The same options and seed always give the
// same bytes.
#ifndef KELVANE_TOOLS_FEGEN_LIB_H_
#define KELVANE_TOOLS_FEGEN_LIB_H_

#include <cstdint>
#include <string>
#include <vector>

namespace kelvane {

// An area asked for by name. LinkIndex -1 takes a free index from the pool.
struct tFeGenArea {
  std::string Tag;
  uint16_t StorageWord = 1;
  std::string Path;
  int32_t LinkIndex = -1;
};

// An extension block: Count records of a known type, or, for a type that has
// no fixed record size, one record of Count bytes.
struct tFeGenBlock {
  uint16_t Type = 0;
  uint32_t Count = 0;
};

enum tFeGenLinks { fglRandom, fglAll, fglNone };

struct tFeGenOptions {
  uint32_t Areas = 10;  // generated areas, after the explicit ones
  uint32_t Nodes = 3;
  uint64_t Seed = 1;
  std::string NetmailDir = "C:\\FE\\NETMAIL";
  std::string SemaphoreDir = "C:\\FE\\SEM";
  std::string BaseDir = "C:\\FE\\ECHO";  // generated areas' bases live here
  std::vector<tFeGenArea> ExplicitAreas;  // first in the file, in this order
  tFeGenLinks NodeLinks = fglRandom;
  std::vector<std::pair<uint32_t, uint32_t>> Links;  // (node, link index) bits to set
  bool DefaultBlocks = true;  // used when Blocks is empty
  std::vector<tFeGenBlock> Blocks;
  bool FullWidth = false;  // generated text fields fill their width, no NUL
  int32_t AreaBits = -1;   // AreaBitmapBits; -1 picks room for sparse indexes
  int32_t NodeBits = -1;   // NodeBitmapBits; -1 is 128
  uint16_t Revision = 6;
  bool ZeroFill = false;  // carried bytes zero instead of seeded noise
};

// The configuration file's bytes.
std::vector<uint8_t> FeGenerate(const tFeGenOptions& Options);

// Parses fegen's command line (Args[0] is the program). Returns false with
// Error set when it is wrong; Help is set when --help was asked for.
bool FeGenParseArgs(int Argc, char** Args, tFeGenOptions& Options, std::string& OutPath, bool& Help,
                    std::string& Error);

extern const char FeGenHelpText[];

}  // namespace kelvane

#endif  // KELVANE_TOOLS_FEGEN_LIB_H_
