// What every kelvutil subcommand shares: where its text goes (as UTF-8 on
// Linux, as code page 866 bytes on Windows), the help switch,
// the failure line, the escaping of control bytes, and the reading of base
// identifiers from the command line.
#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "msgbase/baseid.h"
#include "msgbase/msgbase.h"
#include "msgbase/msgdir.h"
#include "runtime/case866.h"
#include "runtime/console.h"
#include "runtime/file_system.h"
#include "runtime/path.h"
#include "tools/kelvutil.h"

namespace kelvane {

namespace {

tTextOut* InstalledOut = nullptr;
tTextOut* InstalledErr = nullptr;

}  // namespace

namespace {

// Text added to Out: with Escape every control byte as ^ and a letter (^@
// ^A ... ^[ ^\ ^] ^^ ^_, and ^? for DEL); with Utf8 every byte of code
// page 866 above 0x7F as its UTF-8 form. Runs of other bytes go over as
// they are, in one pass.
constexpr uint8_t ControlByte = 1, HighByte = 2;
struct tByteKinds {
  uint8_t Of[256];
  constexpr tByteKinds() : Of() {
    for (int B = 0; B < 256; ++B) Of[B] = B < 0x20 || B == 0x7F ? ControlByte : B >= 0x80 ? HighByte : 0;
  }
};
constexpr tByteKinds ByteKinds;

void AppendOutput(std::string& Out, std::string_view Text, bool Escape, bool Utf8) {
  const uint8_t Special = (Escape ? ControlByte : 0) | (Utf8 ? HighByte : 0);
  size_t Run = 0;
  for (size_t I = 0; I < Text.size(); ++I) {
    // Eight plain ASCII bytes at a time (0x20..0x7E: no byte below 0x20,
    // none with its top bit, none 0x7F) go over whole.
    while (I + 8 <= Text.size()) {
      uint64_t W;
      std::memcpy(&W, Text.data() + I, 8);
      constexpr uint64_t Ones = 0x0101010101010101ULL, Tops = 0x8080808080808080ULL;
      uint64_t Below20 = (W - 0x20 * Ones) & ~W & Tops;
      uint64_t Is7F = ((W ^ (0x7F * Ones)) - Ones) & ~(W ^ (0x7F * Ones)) & Tops;
      if ((Below20 | Is7F | (W & Tops)) != 0) break;
      I += 8;
    }
    if (I >= Text.size()) break;
    uint8_t B = static_cast<uint8_t>(Text[I]);
    uint8_t Kind = ByteKinds.Of[B] & Special;
    if (!Kind) continue;
    Out.append(Text.substr(Run, I - Run));
    if (Kind == ControlByte) {
      Out += '^';
      Out += static_cast<char>(B ^ 0x40);
    } else {
      AppendCp866AsUtf8(Out, B);
    }
    Run = I + 1;
  }
  Out.append(Text.substr(Run));
}

}  // namespace

void tTextOut::Put(std::string_view Text) {
  if (Utf8) {
    Converted_.clear();
    AppendOutput(Converted_, Text, false, true);
    Text = Converted_;
  }
  Write(Text);
}

void tTextOut::Write(std::string_view Text) {
  if (File_)
    std::fwrite(Text.data(), 1, Text.size(), File_);
  else
    Text_.append(Text);
}

template <class tFields>
void tTextOut::PutRecord(const tFields& Fields) {
  Line_.clear();
  bool First = true;
  for (std::string_view F : Fields) {
    if (!First) Line_ += '\t';
    First = false;
    AppendOutput(Line_, F, true, Utf8);
  }
  Line_ += '\n';
  Write(Line_);
}

void tTextOut::Record(std::initializer_list<std::string_view> Fields) { PutRecord(Fields); }

void tTextOut::Record(const std::vector<std::string>& Fields) { PutRecord(Fields); }

void tTextOut::Printf(const char* Format, ...) {
  char Small[512];
  va_list Args;
  va_start(Args, Format);
  int N = std::vsnprintf(Small, sizeof Small, Format, Args);
  va_end(Args);
  if (N < 0) return;
  if (static_cast<size_t>(N) < sizeof Small) {
    Put(std::string_view(Small, static_cast<size_t>(N)));
    return;
  }
  std::string Big(static_cast<size_t>(N) + 1, '\0');
  va_start(Args, Format);
  std::vsnprintf(Big.data(), Big.size(), Format, Args);
  va_end(Args);
  Big.pop_back();
  Put(Big);
}

bool tTextOut::Flush() { return !File_ || (std::fflush(File_) == 0 && !std::ferror(File_)); }

tTextOut& Out() {
  static tTextOut Standard(stdout);
  return InstalledOut ? *InstalledOut : Standard;
}

tTextOut& Err() {
  static tTextOut Standard(stderr);
  return InstalledErr ? *InstalledErr : Standard;
}

void SetOutputs(tTextOut* AOut, tTextOut* AErr) {
  InstalledOut = AOut;
  InstalledErr = AErr;
}

bool WantsHelp(int Argc, char** Args) {
  for (int I = 1; I < Argc; ++I)
    if (std::strcmp(Args[I], "--help") == 0 || std::strcmp(Args[I], "-h") == 0) return true;
  return false;
}

int Fail(const char* Name, std::string_view Message) {
  Err().Put("kelvutil " + std::string(Name) + ": " + Escaped(Message) + "\n");
  return 1;
}

std::string Escaped(std::string_view Text) {
  std::string Out;
  Out.reserve(Text.size());
  AppendOutput(Out, Text, true, false);
  return Out;
}

std::string Counted(long long N, const char* One) {
  return IntToStr(N).ToStdString() + " " + One + (N == 1 ? "" : "s");
}

bool ParseNumber(std::string_view Text, long long First, long long Last, long long& Value) {
  // Digits only: no blanks and no sign, which StrToInt would take.
  if (Text.empty() || Text.find_first_not_of("0123456789") != std::string_view::npos) return false;
  return StrToInt(Text, Value) && Value >= First && Value <= Last;
}

tShortString BaseIdOfArgument(std::string_view Arg) {
  if (Arg.empty()) return tShortString();
  if (Arg.size() > tShortString::MaxLength) return tShortString();
  // As it stands: an existing file or folder, or a base to be made whose
  // folder is there and whose extension says what it is.
  tShortString Dir = DirPart(Arg);
  bool Bare = FileExists(Arg) || DirExists(Arg) ||
              (!Dir.Empty() && DirExists(Dir) && !ExtensionOf(Arg).Empty() && !BarePathId(Arg).Empty());
  if (Bare) return BarePathId(Arg);
  return tShortString(Arg);
}

bool ResolveBaseArgument(std::string_view Arg, tShortString& Id, tBaseKind& Kind, tShortString& Path,
                         std::string& Why) {
  Id = BaseIdOfArgument(Arg);
  if (Id.Empty() && !Arg.empty() && Arg.size() < tShortString::MaxLength)
    Why = std::string(Arg) + ": its extension names no format (.jhr .jdt .jdx .sqd .sqi .pkt, none)";
  else if (Arg.size() > 1 && (Id.Empty() || NormaliseBasePath(Id).Empty()))
    Why = "the base identifier does not fit 255 characters";
  else if (SplitBaseId(Id, Kind, Path) || Kind == bkNone)
    Why = "not a base identifier (a type letter F, S, J or P and a path)";
  else
    return true;
  return false;
}

std::string BasesOf(tBaseKind Kind) {
  return Kind == bkPacket ? std::string("packets") : std::string(FormatName(Kind)) + " bases";
}


std::unique_ptr<tMsgBase> OpenBaseForReading(const char* Command, std::string_view Arg) {
  tShortString Id, Path;
  tBaseKind Kind;
  std::string Why;
  if (!ResolveBaseArgument(Arg, Id, Kind, Path, Why)) {
    Fail(Command, Why);
    return nullptr;
  }
  // Opening creates a missing *.MSG directory; a look must not.
  tShortString Dir = DirPart(Path);
  if (!Dir.Empty() && !DirExists(Dir)) {
    Fail(Command, "no such directory: " + Dir.ToStdString());
    return nullptr;
  }
  auto Base = OpenBase(Id, smOpenRead);
  if (!Base) Fail(Command, "cannot open the base " + Id.ToStdString());
  return Base;
}

std::string OtherBasesIn(tMsgBase& Base) {
  auto* Folder = dynamic_cast<tMsgDirBase*>(&Base);
  if (!Folder || !Folder->Numbers().empty()) return {};
  tShortString Dir = Folder->DirName(), Mask;
  std::vector<tDirEntry> Entries;
  if (!WholeName(Mask, {Dir, "*.*"}) || !ListDir(Mask, Entries)) return {};
  // Each base counted once, by the file every base of its format has.
  static const struct {
    const char* Extension;
    const char* One;
    char Letter;  // the type letter, where one names the base without its extension
  } Formats[] = {{"jhr", "JAM base", 'J'}, {"sqd", "Squish base", 'S'}, {"pkt", "packet", 0}};
  std::string Held, Example;
  for (const auto& F : Formats) {
    std::vector<std::string> Names;
    for (const tDirEntry& E : Entries)
      if (!E.IsDir && SameText866(ExtensionOf(E.Name), F.Extension)) Names.push_back(E.Name.ToStdString());
    if (Names.empty()) continue;
    Held += (Held.empty() ? "" : " and ") + Counted(static_cast<long long>(Names.size()), F.One);
    if (!Example.empty()) continue;
    std::string File = Dir.ToStdString() + *std::min_element(Names.begin(), Names.end());
    Example = File;
    if (F.Letter) Example += std::string(", or ") + F.Letter + File.substr(0, File.rfind('.'));
  }
  if (Held.empty()) return {};
  return Dir.ToStdString() + " holds no *.MSG files but " + Held + "; name one as " + Example;
}

std::vector<int32_t> MessageNumbers(tMsgBase& Base) {
  // A *.MSG directory tells which numbers it holds; other formats are
  // numbered without gaps from 1 to Count.
  std::vector<int32_t> Numbers;
  if (auto* Dir = dynamic_cast<tMsgDirBase*>(&Base)) {
    for (int32_t N : Dir->Numbers())
      if (Base.Exists(N)) Numbers.push_back(N);
  } else {
    for (int64_t N = 1; N <= Base.Count; ++N)
      if (Base.Exists(static_cast<int32_t>(N))) Numbers.push_back(static_cast<int32_t>(N));
  }
  return Numbers;
}

const char* AreaTypeName(int16_t Type) {
  switch (Type) {
    case 1: return "*.MSG";
    case 2: return "Squish";
    case 3: return "JAM";
    case 0:
    case 7: return "none";
    default: return "by its path";
  }
}

}  // namespace kelvane
