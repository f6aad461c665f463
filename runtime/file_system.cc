// The platform-neutral half of the file layer: the replaceable current file
// system, the mode-word decoding both backends share, and the helpers built
// on the tFileSystem calls.
#include "runtime/file_system.h"

#include <string>

#include "runtime/path.h"

namespace kelvane {

namespace {
tFileSystem* Current = nullptr;
#ifdef _WIN32
constexpr std::string_view PathSeps = "\\";
#else
constexpr std::string_view PathSeps = "\\/";
#endif
}  // namespace

tFileSystem::~tFileSystem() = default;

int32_t tFileSystem::ReadAt(intptr_t Handle, int64_t Pos, void* Buf, uint32_t Count) {
  return Seek(Handle, Pos) ? Read(Handle, Buf, Count) : -1;
}

int32_t tFileSystem::WriteAt(intptr_t Handle, int64_t Pos, const void* Buf, uint32_t Count) {
  return Seek(Handle, Pos) ? Write(Handle, Buf, Count) : -1;
}

tFileSystem& FileSystem() { return Current ? *Current : RealFileSystem(); }
void SetFileSystem(tFileSystem* Fs) { Current = Fs; }

tFileSystem& tForwardingFileSystem::Real() { return RealFileSystem(); }

bool UsablePath(std::string_view Path) { return !Path.empty() && Path.find('\0') == std::string_view::npos; }

tOpenMode DecodeOpenMode(uint16_t Mode) {
  tOpenMode M;
  uint8_t Low = static_cast<uint8_t>(Mode);
  M.New = (Mode >> 8) == 0x5B;
  M.Create = M.New || (Mode & 0x0100) == 0;
  if (M.Create) {
    M.Read = M.Write = true;
  } else {
    switch (Low & 0x03) {
      case 0: M.Read = true; break;
      case 1: M.Write = true; break;
      case 2: M.Read = M.Write = true; break;
      default: return M;  // not Valid
    }
  }
  // 0x00 (compatibility) and 0x40 share; 0x10 and 0x50 are exclusive.
  switch (Low & 0x30) {
    case 0x00: M.Share = shDenyNone; break;
    case 0x10: M.Share = shDenyAll; break;
    case 0x20: M.Share = shDenyWrite; break;
    default: M.Share = shDenyRead; break;
  }
  M.Valid = true;
  return M;
}

bool FileExists(std::string_view Path) { return FileSystem().FileExists(Path); }
bool DirExists(std::string_view Path) { return FileSystem().DirExists(Path); }

bool ListDir(std::string_view Mask, std::vector<tDirEntry>& Out) { return FileSystem().List(Mask, Out); }
bool ListDirNames(std::string_view Mask, std::vector<tDirEntry>& Out) { return FileSystem().ListNames(Mask, Out); }

bool MakeDirChain(std::string_view Dir) {
  tFileSystem& Fs = FileSystem();
  // Without its trailing separators; a bare root or drive ("\", "C:\", "C:")
  // is there already.
  while (Dir.size() > 1 && IsPathSep(Dir.back()) && Dir[Dir.size() - 2] != ':') Dir.remove_suffix(1);
  if (Dir.empty() || Fs.DirExists(Dir)) return true;
  // Every prefix that ends before a separator is a parent, from the top
  // down; the server and share of a UNC path (\\server\share\...) are not
  // directories to make.
  size_t First = 1;
  if (Dir.size() > 2 && IsPathSep(Dir[0]) && IsPathSep(Dir[1])) {
    size_t Server = Dir.find_first_of(PathSeps, 2);
    size_t Share = Server == std::string_view::npos ? Server : Dir.find_first_of(PathSeps, Server + 1);
    if (Share == std::string_view::npos) return Fs.DirExists(Dir);
    First = Share + 1;
  }
  for (size_t I = First; I < Dir.size(); ++I) {
    if (!IsPathSep(Dir[I])) continue;
    std::string_view Parent = Dir.substr(0, I);
    if (Parent.back() == ':' || IsPathSep(Parent.back())) continue;  // "C:" or a doubled separator
    if (!Fs.DirExists(Parent) && !Fs.MakeDir(Parent) && !Fs.DirExists(Parent)) return false;
  }
  // Another process may have made it meanwhile: what counts is that it exists.
  return Fs.MakeDir(Dir) || Fs.DirExists(Dir);
}

bool RemoveFile(std::string_view Path) { return FileSystem().Remove(Path); }
bool RemoveFilesAllOrNone(const std::vector<tShortString>& Paths, int Locked) {
  return FileSystem().RemoveAll(Paths, Locked);
}

tReplaceResult ReplaceFileSynced(std::string_view Source, std::string_view Target) {
  tFileSystem& Fs = FileSystem();
  if (!Fs.Replace(Source, Target)) return rpFailed;
  bool Synced = Fs.SyncDir(Target);
  // A source in another folder left its entry there.
  if (DirPart(Source) != DirPart(Target)) Fs.SyncDir(Source);
  return Synced ? rpDone : rpNotSynced;
}

bool ReplaceFile(std::string_view Source, std::string_view Target) {
  return ReplaceFileSynced(Source, Target) == rpDone;
}

bool tFileSystem::ListNames(std::string_view Mask, std::vector<tDirEntry>& Out) {
  if (!List(Mask, Out)) return false;
  for (tDirEntry& E : Out) E.Size = -1;
  return true;
}

bool tFileSystem::OpenSized(std::string_view Path, uint16_t Mode, intptr_t& Handle, int& Error, int64_t& Size) {
  Size = -1;
  if (!Open(Path, Mode, Handle, Error)) return false;
  Size = this->Size(Handle);
  return true;
}

tShortString FullPathOf(std::string_view Path) { return FileSystem().FullPath(Path); }

}  // namespace kelvane
