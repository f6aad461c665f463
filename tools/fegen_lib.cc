// Lays out FastEcho configuration files for tests, the demo and benchmarks.
// The offsets are written out here again on purpose (see fegen_lib.h); they
// follow doc/formats/fastecho-config.md.
#include "tools/fegen_lib.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "runtime/coding.h"

namespace kelvane {

namespace {

constexpr size_t HeaderSize = 4644;
constexpr size_t NodeSize = 95;
constexpr size_t AreaSize = 190;
constexpr size_t TagWidth = 52;
constexpr size_t PathWidth = 56;

// splitmix64: small, fast and the same on every compiler and library, which
// the standard distributions are not.
class tRng {
 public:
  explicit tRng(uint64_t Seed) : State_(Seed) {}
  uint64_t Next() {
    uint64_t Z = (State_ += 0x9E3779B97F4A7C15ull);
    Z = (Z ^ (Z >> 30)) * 0xBF58476D1CE4E5B9ull;
    Z = (Z ^ (Z >> 27)) * 0x94D049BB133111EBull;
    return Z ^ (Z >> 31);
  }
  uint32_t Below(uint32_t Limit) { return Limit ? static_cast<uint32_t>(Next() % Limit) : 0; }
  uint8_t Byte() { return static_cast<uint8_t>(Next() >> 56); }

 private:
  uint64_t State_;
};

uint32_t KnownRecordSize(uint16_t Type) {
  switch (Type) {
    case 0x0001: return 72;
    case 0x0006: return 206;
    case 0x0007: return 42;
    case 0x0008: return 62;
    case 0x0009: return 128;
    case 0x000A: case 0x100A: return 74;
    case 0x000B: case 0x100B: return 64;
    case 0x000C: return 36;
    default: return 0;
  }
}

class tWriter {
 public:
  tWriter(const tFeGenOptions& O) : Opt_(O), Rng_(O.Seed) {}

  // Bytes FastEcho's fields do not use: noise, so that a loader that drops
  // or moves one shows it, or zeros for a readable dump.
  void Fill(uint8_t* P, size_t N) {
    if (Opt_.ZeroFill) std::memset(P, 0, N);
    else for (size_t I = 0; I < N; ++I) P[I] = Rng_.Byte();
  }
  // A text field: the text cut to the width, then a NUL when it is shorter,
  // then noise (readers stop at the NUL).
  void Text(uint8_t* P, size_t Width, const std::string& Value) {
    size_t N = std::min(Value.size(), Width);
    std::memcpy(P, Value.data(), N);
    if (N < Width) {
      P[N] = 0;
      Fill(P + N + 1, Width - N - 1);
    }
  }
  std::string Widen(std::string Value, size_t Width, char Pad) {
    if (Opt_.FullWidth)
      while (Value.size() < Width) Value += static_cast<char>(Pad + Value.size() % 10);
    return Value;
  }
  tRng& Rng() { return Rng_; }

 private:
  const tFeGenOptions& Opt_;
  tRng Rng_;
};

// Base type values as StorageWord and 0x6F yields them: 1 *.MSG, 2 Squish and
// 3 JAM come most often; every other value the mask lets through is used in
// turn so that a large file holds each of them.
uint16_t BaseTypeFor(uint32_t I) {
  if (I % 4 != 3) return static_cast<uint16_t>(1 + I % 4);
  static const std::vector<uint16_t> Others = [] {
    std::vector<uint16_t> V{0, 7};
    for (uint16_t T = 0; T <= 0x6F; ++T)
      if ((T & 0x6F) == T && T != 0 && T != 7 && (T < 1 || T > 3)) V.push_back(T);
    return V;
  }();
  return Others[(I / 4) % Others.size()];
}

// Tags mix the forms of real echo lists: upper- and lower-case Latin, and
// code page 866 Cyrillic from both halves of the alphabet and yo (0xF1).
std::string TagFor(uint32_t I) {
  static const char* const Prefixes[] = {
      "RU.", "SU.", "fido.", "\x90\x93.\x8A\x8E\x8C\x8F.",  // "РУ.КОМП."
      "\xE4\xA8\xA4\xAE.", "N5020.", "\xF1\xAB\xAA\xA0.",   // "фидо.", "ёлка."
      "Mixed.Case.",
  };
  return std::string(Prefixes[I % 8]) + "AREA" + std::to_string(I);
}

}  // namespace

std::vector<uint8_t> FeGenerate(const tFeGenOptions& Opt) {
  tWriter W(Opt);
  const uint32_t TotalAreas = std::min<uint32_t>(65535, static_cast<uint32_t>(Opt.ExplicitAreas.size()) + Opt.Areas);
  const uint32_t Nodes = std::min<uint32_t>(65535, Opt.Nodes);
  uint32_t AreaBits;
  if (Opt.AreaBits >= 0) AreaBits = std::min<uint32_t>(65535, static_cast<uint32_t>(Opt.AreaBits));
  else AreaBits = std::min<uint32_t>(65528, (std::max<uint32_t>(64, 2 * TotalAreas) + 7) / 8 * 8);
  const uint32_t NodeBits = Opt.NodeBits >= 0 ? std::min<uint32_t>(65535, static_cast<uint32_t>(Opt.NodeBits)) : 128;
  const uint32_t AreaBitmapBytes = AreaBits / 8;
  const uint32_t NodeBitmapBytes = NodeBits / 8;

  // Extension blocks first, so their total length is known for the header.
  std::vector<tFeGenBlock> Blocks = Opt.Blocks;
  if (Blocks.empty() && Opt.DefaultBlocks) {
    for (uint16_t T : {0x0001, 0x0006, 0x0007, 0x0008, 0x0009, 0x000A, 0x100A, 0x000B, 0x100B, 0x000C})
      Blocks.push_back({T, 1 + W.Rng().Below(3)});
    Blocks.push_back({0x0002, 17});  // types FastEcho may add later: one opaque record
    Blocks.push_back({0x2000, 0});
  }
  std::vector<uint8_t> Ext;
  for (const tFeGenBlock& B : Blocks) {
    uint32_t Size = KnownRecordSize(B.Type);
    uint32_t Record = Size ? Size + (B.Type == 0x0006 ? NodeBitmapBytes : 0) : 1;
    uint64_t Length = uint64_t{Record} * B.Count;
    size_t At = Ext.size();
    Ext.resize(At + 6 + Length);
    PutU16(&Ext[At], B.Type);
    PutU32(&Ext[At + 2], static_cast<uint32_t>(Length));
    W.Fill(&Ext[At + 6], Length);
  }

  std::vector<uint8_t> Out(HeaderSize);
  W.Fill(Out.data(), HeaderSize);
  PutU16(&Out[0], Opt.Revision);
  PutU16(&Out[6], static_cast<uint16_t>(Nodes));
  PutU16(&Out[8], static_cast<uint16_t>(TotalAreas));
  W.Text(&Out[12], PathWidth, W.Widen(Opt.NetmailDir, PathWidth, '0'));
  W.Text(&Out[908], PathWidth, W.Widen(Opt.SemaphoreDir, PathWidth, '0'));
  PutU16(&Out[4634], static_cast<uint16_t>(AreaBits));
  PutU16(&Out[4636], static_cast<uint16_t>(NodeBits));
  PutU32(&Out[4640], static_cast<uint32_t>(Ext.size()));
  Out.insert(Out.end(), Ext.begin(), Ext.end());

  // Link indexes: distinct, drawn in random order from a pool larger than the
  // number of areas, so they are sparse and unordered as in a configuration
  // that has seen areas come and go.
  std::vector<int32_t> Index(TotalAreas, -1);
  std::vector<uint8_t> Used(65536, 0);
  for (size_t I = 0; I < Opt.ExplicitAreas.size() && I < TotalAreas; ++I)
    if (Opt.ExplicitAreas[I].LinkIndex >= 0) {
      Index[I] = Opt.ExplicitAreas[I].LinkIndex & 0xFFFF;
      Used[Index[I]] = 1;
    }
  std::vector<uint32_t> Pool;
  for (uint32_t K = 0; K < std::max<uint32_t>(AreaBits, 2 * TotalAreas) && K < 65536; ++K)
    if (!Used[K]) Pool.push_back(K);
  size_t Drawn = 0;
  for (uint32_t I = 0; I < TotalAreas; ++I) {
    if (Index[I] >= 0) continue;
    if (Drawn < Pool.size()) {
      std::swap(Pool[Drawn], Pool[Drawn + W.Rng().Below(static_cast<uint32_t>(Pool.size() - Drawn))]);
      Index[I] = static_cast<int32_t>(Pool[Drawn++]);
    } else {
      Index[I] = static_cast<int32_t>(I);  // more areas than indexes: share
    }
  }

  for (uint32_t N = 0; N < Nodes; ++N) {
    size_t At = Out.size();
    Out.resize(At + NodeSize + AreaBitmapBytes);
    W.Fill(&Out[At], NodeSize);
    // The node's address opens its record: 2:463/(10 + N), point 0 (left
    // zero with the rest when carried bytes are zero).
    if (!Opt.ZeroFill) {
      PutU16(&Out[At + 0], 2);
      PutU16(&Out[At + 2], 463);
      PutU16(&Out[At + 4], static_cast<uint16_t>(10 + N));
      PutU16(&Out[At + 6], 0);
    }
    uint8_t* Bitmap = &Out[At + NodeSize];
    if (Opt.NodeLinks == fglRandom) {
      for (uint32_t B = 0; B < AreaBitmapBytes; ++B) Bitmap[B] = W.Rng().Byte();
    } else {
      std::memset(Bitmap, 0, AreaBitmapBytes);
      if (Opt.NodeLinks == fglAll)
        for (int32_t K : Index)
          if (static_cast<uint32_t>(K) / 8 < AreaBitmapBytes) Bitmap[K / 8] |= static_cast<uint8_t>(0x80 >> (K % 8));
    }
    for (const auto& [Node, K] : Opt.Links)
      if (Node == N && K / 8 < AreaBitmapBytes) Bitmap[K / 8] |= static_cast<uint8_t>(0x80 >> (K % 8));
  }

  for (uint32_t I = 0; I < TotalAreas; ++I) {
    size_t At = Out.size();
    Out.resize(At + AreaSize);
    uint8_t* A = &Out[At];
    W.Fill(A, AreaSize);
    std::string Tag, Path;
    uint16_t Storage;
    if (I < Opt.ExplicitAreas.size()) {
      const tFeGenArea& E = Opt.ExplicitAreas[I];
      Tag = E.Tag;
      Path = E.Path;
      Storage = E.StorageWord;
    } else {
      uint32_t G = I - static_cast<uint32_t>(Opt.ExplicitAreas.size());
      Tag = W.Widen(TagFor(G), TagWidth, 'A');
      char Name[16];
      std::snprintf(Name, sizeof Name, "A%07X", G);
      Path = W.Widen(Opt.BaseDir + "\\" + Name, PathWidth, '0');
      // The bits outside the mask carry other settings; noise there shows
      // that only the masked bits are taken as the base type.
      Storage = BaseTypeFor(G);
      if (!Opt.ZeroFill) Storage = static_cast<uint16_t>(Storage | (W.Rng().Next() & ~uint64_t{0x6F} & 0xFFFF));
    }
    W.Text(A, TagWidth, Tag);
    PutU16(A + 54, static_cast<uint16_t>(Index[I]));
    PutU16(A + 62, Storage);
    W.Text(A + 82, PathWidth, Path);
  }
  return Out;
}

const char FeGenHelpText[] =
    "usage: fegen OUT.cfg [options]\n"
    "\n"
    "Writes a FastEcho configuration (revision 6) to OUT.cfg. The same options\n"
    "and seed always give the same bytes. Numbers may be decimal or 0x hex.\n"
    "\n"
    "  --areas N            generated areas, after the --area ones (default 10)\n"
    "  --nodes M            node records (default 3); node N has the address\n"
    "                       2:463/(10+N)\n"
    "  --seed S             seed for tags order, link indexes, noise (default 1)\n"
    "  --netmail DIR        NetmailDir (default C:\\FE\\NETMAIL)\n"
    "  --semaphore DIR      SemaphoreDir (default C:\\FE\\SEM)\n"
    "  --base-dir DIR       directory of the generated areas' bases (default C:\\FE\\ECHO)\n"
    "  --area TAG,TYPE,PATH[,LINKINDEX]\n"
    "                       an exact area; repeatable; these come first in the\n"
    "                       file, in the order given. TYPE is the StorageWord\n"
    "                       (1 *.MSG, 2 Squish, 3 JAM, 0 and 7 no base to delete).\n"
    "                       Without LINKINDEX a free index is drawn.\n"
    "  --node-links MODE    random (every bitmap bit random, default), all (each\n"
    "                       node linked to every area), none\n"
    "  --link NODE:INDEX    also set bit INDEX in node NODE's bitmap; repeatable\n"
    "  --ext TYPE:COUNT     an extension block; repeatable, in order. COUNT records\n"
    "                       of a known type (0x0006 records carry a node bitmap);\n"
    "                       for another type one record of COUNT bytes. Without\n"
    "                       --ext: one block of each known type (1 to 3 records)\n"
    "                       plus blocks of unknown types 0x0002 and 0x2000.\n"
    "  --no-ext             no extension blocks (ExtensionLength 0)\n"
    "  --area-bits N        AreaBitmapBits (default: a multiple of 8, at least\n"
    "                       twice the areas, at least 64)\n"
    "  --node-bits N        NodeBitmapBits (default 128)\n"
    "  --full-width-fields  generated tags and paths fill their whole field, no NUL\n"
    "  --zero-fill          carried bytes zero instead of seeded noise (node\n"
    "                       addresses too)\n"
    "  --revision N         header revision (default 6; others are refused by kelvane)\n"
    "  --help               this text\n";

namespace {

bool ParseNumber(const std::string& Text, uint64_t Max, uint64_t& Value) {
  if (Text.empty()) return false;
  char* End = nullptr;
  bool Hex = Text.size() > 2 && Text[0] == '0' && (Text[1] == 'x' || Text[1] == 'X');
  if (!Hex && Text[0] == '-') return false;
  unsigned long long V = std::strtoull(Text.c_str() + (Hex ? 2 : 0), &End, Hex ? 16 : 10);
  if (*End != 0 || End == Text.c_str() + (Hex ? 2 : 0) || V > Max) return false;
  Value = V;
  return true;
}

bool ParseArea(const std::string& Spec, tFeGenArea& Area) {
  size_t C1 = Spec.find(',');
  if (C1 == std::string::npos) return false;
  size_t C2 = Spec.find(',', C1 + 1);
  if (C2 == std::string::npos) return false;
  Area.Tag = Spec.substr(0, C1);
  uint64_t Type;
  if (!ParseNumber(Spec.substr(C1 + 1, C2 - C1 - 1), 0xFFFF, Type)) return false;
  Area.StorageWord = static_cast<uint16_t>(Type);
  Area.Path = Spec.substr(C2 + 1);
  Area.LinkIndex = -1;
  size_t C3 = Area.Path.rfind(',');
  uint64_t Link;
  if (C3 != std::string::npos && ParseNumber(Area.Path.substr(C3 + 1), 0xFFFF, Link)) {
    Area.LinkIndex = static_cast<int32_t>(Link);
    Area.Path.resize(C3);
  }
  return !Area.Tag.empty();
}

bool ParsePair(const std::string& Spec, uint64_t MaxA, uint64_t MaxB, uint64_t& A, uint64_t& B) {
  size_t Colon = Spec.find(':');
  return Colon != std::string::npos && ParseNumber(Spec.substr(0, Colon), MaxA, A) &&
         ParseNumber(Spec.substr(Colon + 1), MaxB, B);
}

}  // namespace

bool FeGenParseArgs(int Argc, char** Args, tFeGenOptions& O, std::string& OutPath, bool& Help, std::string& Error) {
  Help = false;
  OutPath.clear();
  for (int I = 1; I < Argc; ++I) {
    std::string Arg = Args[I];
    if (Arg == "--help" || Arg == "-h") {
      Help = true;
      return true;
    }
    auto Flag = [&](const char* Name, bool& To) {
      if (Arg != Name) return false;
      To = true;
      return true;
    };
    bool Set = false;
    if (Flag("--full-width-fields", O.FullWidth) || Flag("--zero-fill", O.ZeroFill)) continue;
    if (Flag("--no-ext", Set)) {
      O.DefaultBlocks = false;
      O.Blocks.clear();
      continue;
    }
    if (Arg.size() > 2 && Arg[0] == '-' && Arg[1] == '-') {
      if (I + 1 >= Argc) {
        Error = Arg + " needs a value";
        return false;
      }
      std::string Value = Args[++I];
      uint64_t N = 0, M = 0;
      bool Ok = true;
      if (Arg == "--areas") Ok = ParseNumber(Value, 65535, N), O.Areas = static_cast<uint32_t>(N);
      else if (Arg == "--nodes") Ok = ParseNumber(Value, 65535, N), O.Nodes = static_cast<uint32_t>(N);
      else if (Arg == "--seed") Ok = ParseNumber(Value, ~uint64_t{0}, N), O.Seed = N;
      else if (Arg == "--netmail") O.NetmailDir = Value;
      else if (Arg == "--semaphore") O.SemaphoreDir = Value;
      else if (Arg == "--base-dir") O.BaseDir = Value;
      else if (Arg == "--area-bits") Ok = ParseNumber(Value, 65535, N), O.AreaBits = static_cast<int32_t>(N);
      else if (Arg == "--node-bits") Ok = ParseNumber(Value, 65535, N), O.NodeBits = static_cast<int32_t>(N);
      else if (Arg == "--revision") Ok = ParseNumber(Value, 65535, N), O.Revision = static_cast<uint16_t>(N);
      else if (Arg == "--area") {
        tFeGenArea Area;
        Ok = ParseArea(Value, Area);
        if (Ok) O.ExplicitAreas.push_back(Area);
      } else if (Arg == "--node-links") {
        if (Value == "random") O.NodeLinks = fglRandom;
        else if (Value == "all") O.NodeLinks = fglAll;
        else if (Value == "none") O.NodeLinks = fglNone;
        else Ok = false;
      } else if (Arg == "--link") {
        Ok = ParsePair(Value, 65534, 65535, N, M);
        if (Ok) O.Links.push_back({static_cast<uint32_t>(N), static_cast<uint32_t>(M)});
      } else if (Arg == "--ext") {
        Ok = ParsePair(Value, 0xFFFF, 0x7FFFFFFF, N, M);
        if (Ok) {
          uint32_t Record = KnownRecordSize(static_cast<uint16_t>(N));
          // BlockLength is a signed 32-bit field; keep what is asked within it.
          uint64_t Bytes = Record ? M * (Record + 8192) : M;
          Ok = Bytes <= 0x7FFFFFFF && Bytes <= (64u << 20);
          O.DefaultBlocks = false;
          if (Ok) O.Blocks.push_back({static_cast<uint16_t>(N), static_cast<uint32_t>(M)});
        }
      } else {
        Error = "unknown option " + Arg;
        return false;
      }
      if (!Ok) {
        Error = "bad value for " + Arg + ": " + Value;
        return false;
      }
      continue;
    }
    if (!OutPath.empty()) {
      Error = "more than one output file";
      return false;
    }
    OutPath = Arg;
  }
  if (OutPath.empty()) {
    Error = "no output file given";
    return false;
  }
  return true;
}

}  // namespace kelvane
