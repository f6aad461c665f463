// The file layer on POSIX. The system's paths are Windows paths: '\' is
// turned into '/', a component that does not exist as written is looked up
// without regard to the case of ASCII letters, listings behave as
// FindFirstFileA does, and the sharing bits of the mode word are emulated
// with flock so that our processes refuse each other as they would on
// Windows.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <limits>
#include <cerrno>
#include <cstring>
#include <string>

#include "runtime/file_lock.h"
#include "runtime/file_system.h"

namespace kelvane {

namespace {

char FoldAscii(char C) { return (C >= 'a' && C <= 'z') ? static_cast<char>(C - 32) : C; }

bool SameFolded(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) return false;
  for (size_t I = 0; I < A.size(); ++I)
    if (FoldAscii(A[I]) != FoldAscii(B[I])) return false;
  return true;
}

bool Exists(const std::string& Path) {
  struct stat St;
  return lstat(Path.c_str(), &St) == 0;
}

// The entry of Dir whose name equals Name with ASCII letters folded; the
// first in byte order when several do. Empty when there is none.
//
// A name with few letters is looked for by trying its case variants in byte
// order (upper case sorts first), which costs a handful of lstat calls
// however large the directory; a *.MSG base of thousands of messages would
// otherwise be read through for every message file created in it.
std::string FindFolded(const std::string& Dir, std::string_view Name) {
  std::string Prefix = Dir.empty() ? std::string() : (Dir.back() == '/' ? Dir : Dir + "/");
  size_t Letters[6];
  size_t K = 0;
  bool Few = true;
  for (size_t I = 0; I < Name.size(); ++I) {
    char C = FoldAscii(Name[I]);
    if (C < 'A' || C > 'Z') continue;
    if (K == 6) {
      Few = false;
      break;
    }
    Letters[K++] = I;
  }
  if (Few) {
    std::string Variant(Name);
    for (uint32_t Bits = 0; Bits < (1u << K); ++Bits) {
      for (size_t J = 0; J < K; ++J) {
        char Upper = FoldAscii(Name[Letters[J]]);
        bool Lower = (Bits >> (K - 1 - J)) & 1;
        Variant[Letters[J]] = Lower ? static_cast<char>(Upper + 32) : Upper;
      }
      if (Exists(Prefix + Variant)) return Variant;
    }
    return std::string();
  }
  std::string Best;
  DIR* D = opendir(Dir.empty() ? "." : Dir.c_str());
  if (!D) return Best;
  while (dirent* E = readdir(D)) {
    std::string_view N(E->d_name);
    if (!SameFolded(N, Name)) continue;
    if (Best.empty() || CompareBytes(N, Best) < 0) Best.assign(N);
  }
  closedir(D);
  return Best;
}

// The path the system should be given for one of ours: '/' for '\', and
// each component that is not there as written replaced by the entry that
// matches it in another case. A component found in no case ends the lookup
// (nothing below it can exist); the rest stays as written.
std::string Resolve(std::string P) {
  if (P.empty() || Exists(P)) return P;
  // Trailing separators are kept but take no part in the lookup.
  size_t End = P.find_last_not_of('/');
  if (End == std::string::npos) return P;
  std::string Tail = P.substr(End + 1);
  P.resize(End + 1);
  size_t Slash = P.rfind('/');
  std::string Parent = Slash == std::string::npos ? std::string() : P.substr(0, Slash == 0 ? 1 : Slash);
  std::string Last = Slash == std::string::npos ? P : P.substr(Slash + 1);
  if (!Parent.empty() && !Exists(Parent)) {
    Parent = Resolve(Parent);
    if (!Exists(Parent)) return Parent + (Parent.back() == '/' ? "" : "/") + Last + Tail;
  }
  std::string Joined = Parent.empty() ? std::string() : (Parent.back() == '/' ? Parent : Parent + "/");
  if (Last != "." && Last != "..") {
    if (Exists(Joined + Last)) return Joined + Last + Tail;
    std::string Found = FindFolded(Parent, Last);
    if (!Found.empty()) Last = Found;
  }
  return Joined + Last + Tail;
}

std::string Slashed(std::string_view Path) {
  std::string P(Path);
  std::replace(P.begin(), P.end(), '\\', '/');
  return P;
}

std::string Native(std::string_view Path) { return Resolve(Slashed(Path)); }

// stat() of a path of ours. The name as written is tried first: it is what
// nearly every lookup finds, and it costs one call where the case-folding
// lookup costs several.
bool StatPath(std::string_view Path, struct stat& St) {
  std::string P = Slashed(Path);
  if (stat(P.c_str(), &St) == 0) return true;
  if (errno != ENOENT && errno != ENOTDIR) return false;
  std::string R = Resolve(std::move(P));
  return stat(R.c_str(), &St) == 0;
}

// FindFirstFileA's matching: '*' any run, '?' one character, ASCII letters
// in either case, and a mask ending in ".*" also matches a name without
// that dot ("*.*" matches every name).
bool MaskMatches(std::string_view Mask, std::string_view Name) {
  size_t M = 0, N = 0, StarM = std::string_view::npos, StarN = 0;
  while (true) {
    if (N == Name.size()) {
      // Only more stars, or the ".*" that may match nothing, can follow.
      std::string_view Rest = Mask.substr(M);
      return Rest.find_first_not_of('*') == std::string_view::npos || Rest == ".*";
    }
    if (M < Mask.size() && Mask[M] == '*') {
      StarM = M++;
      StarN = N;
      continue;
    }
    if (M < Mask.size() && N < Name.size() && (Mask[M] == '?' || FoldAscii(Mask[M]) == FoldAscii(Name[N]))) {
      ++M;
      ++N;
      continue;
    }
    if (StarM == std::string_view::npos || StarN >= Name.size()) return false;
    M = StarM + 1;
    N = ++StarN;
  }
}

// Windows' sharing bits as advisory locks on the open file description.
// flock knows only shared and exclusive: deny-write and deny-read take the
// exclusive lock, refusing somewhat more than Windows would rather than
// letting a writer in that Windows would keep out.
bool LockShare(int Fd, uint8_t Share) {
  int Op = (Share == shDenyNone ? LOCK_SH : LOCK_EX) | LOCK_NB;
  while (flock(Fd, Op) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

// True when no stream of ours holds Path open: a sharing-violation check
// before a delete or a rename over it, as Windows makes. The lock, when
// taken, is held through Fd until the caller closes it.
bool NotInUse(const std::string& Path, int& Fd) {
  // A link is checked as itself (what goes is the link, not its target).
  Fd = open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY);
  if (Fd < 0) return true;  // cannot be opened, so cannot be held by us either
  if (LockShare(Fd, shDenyAll)) return true;
  close(Fd);
  Fd = -1;
  errno = EBUSY;
  return false;
}

// A record lock of Type (F_WRLCK, F_RDLCK or F_UNLCK) on the first byte,
// owned by the open file description of Fd: 1 taken, 0 held by another,
// -1 failed.
int RecordLock(int Fd, short Type) {
  struct flock L = {};
  L.l_type = Type;
  L.l_whence = SEEK_SET;
  L.l_start = 0;
  L.l_len = 1;
  while (fcntl(Fd, F_OFD_SETLK, &L) != 0) {
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EACCES ? 0 : -1;
  }
  return 1;
}

bool IsRoot(const std::string& Dir) {
  struct stat A, B;
  if (stat(Dir.empty() ? "." : Dir.c_str(), &A) != 0 || stat("/", &B) != 0) return false;
  return A.st_dev == B.st_dev && A.st_ino == B.st_ino;
}

// The directory that holds Path: "." for a bare name, "/" for a name in
// the root.
std::string ParentOf(const std::string& Path) {
  size_t Slash = Path.rfind('/');
  return Slash == std::string::npos ? "." : (Slash == 0 ? "/" : Path.substr(0, Slash));
}

bool SyncParent(const std::string& Path) {
  std::string Dir = ParentOf(Path);
  int Fd = open(Dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (Fd < 0) return false;
  bool Ok = fsync(Fd) == 0 || errno == EINVAL;  // some file systems cannot sync a directory
  close(Fd);
  return Ok;
}

class tPosixFileSystem : public tFileSystem {
 public:
  bool Open(std::string_view Path, uint16_t Mode, intptr_t& Handle, int& Error) override {
    int64_t Size;
    return OpenSized(Path, Mode, Handle, Error, Size);
  }

  bool OpenSized(std::string_view Path, uint16_t Mode, intptr_t& Handle, int& Error, int64_t& Size) override {
    Size = -1;
    tOpenMode M = DecodeOpenMode(Mode);
    Handle = -1;
    if (!M.Valid || !UsablePath(Path)) {
      Error = EINVAL;
      return false;
    }
    // O_NONBLOCK: opening a FIFO must not wait for a writer or a reader;
    // what is not a regular file is refused below, once it is open.
    int Flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    if (M.New)
      Flags |= O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW;
    else if (M.Create)
      Flags |= O_RDWR | O_CREAT;  // emptied only once the lock is ours
    else
      Flags |= M.Read && M.Write ? O_RDWR : (M.Write ? O_WRONLY : O_RDONLY);
    auto OpenAt = [Flags](const std::string& P) {
      int Fd;
      do Fd = open(P.c_str(), Flags, 0666);
      while (Fd < 0 && errno == EINTR);
      return Fd;
    };
    // An existing file is opened by the name as written when that finds it;
    // only a miss costs the case-folding lookup. A file to be created always
    // takes the lookup, or it would be made beside one of another case.
    int Fd = -1;
    if (!M.Create) {
      Fd = OpenAt(Slashed(Path));
      if (Fd < 0 && errno != ENOENT && errno != ENOTDIR) {
        Error = errno;
        return false;
      }
    }
    if (Fd < 0) Fd = OpenAt(Native(Path));
    if (Fd < 0) {
      Error = errno;
      return false;
    }
    struct stat St;
    if (fstat(Fd, &St) != 0 || !S_ISREG(St.st_mode)) {
      Error = S_ISDIR(St.st_mode) ? EISDIR : EINVAL;
      close(Fd);
      return false;
    }
    if (!LockShare(Fd, M.Share)) {
      Error = EBUSY;  // the sharing violation
      close(Fd);
      return false;
    }
    // Only a file that holds something is emptied: on ext4 a truncation
    // to zero makes the close start writing the file out at once, which
    // would cost every new message file a disk wait.
    if (M.Create && St.st_size != 0 && ftruncate(Fd, 0) != 0) {
      Error = errno;
      close(Fd);
      return false;
    }
    // O_NONBLOCK stays: it changes nothing for a regular file, and taking
    // it off would cost every open two more calls.
    Size = M.Create ? 0 : static_cast<int64_t>(St.st_size);
    Handle = Fd;
    return true;
  }

  int32_t Read(intptr_t Handle, void* Buf, uint32_t Count) override {
    if (Count > 0x40000000u) Count = 0x40000000u;
    ssize_t N;
    do N = read(static_cast<int>(Handle), Buf, Count);
    while (N < 0 && errno == EINTR);
    return static_cast<int32_t>(N);
  }

  int32_t Write(intptr_t Handle, const void* Buf, uint32_t Count) override {
    if (Count > 0x40000000u) Count = 0x40000000u;
    ssize_t N;
    do N = write(static_cast<int>(Handle), Buf, Count);
    while (N < 0 && errno == EINTR);
    return static_cast<int32_t>(N);
  }

  bool Seek(intptr_t Handle, int64_t Pos) override {
    return Pos >= 0 && lseek(static_cast<int>(Handle), static_cast<off_t>(Pos), SEEK_SET) == static_cast<off_t>(Pos);
  }

  // One call where a seek and a read (a write) would take two: on a busy
  // machine the calls are what a message's write costs most.
  int32_t ReadAt(intptr_t Handle, int64_t Pos, void* Buf, uint32_t Count) override {
    if (Pos < 0 || Pos > std::numeric_limits<off_t>::max()) return -1;
    if (Count > 0x40000000u) Count = 0x40000000u;
    ssize_t N;
    do N = pread(static_cast<int>(Handle), Buf, Count, static_cast<off_t>(Pos));
    while (N < 0 && errno == EINTR);
    return static_cast<int32_t>(N);
  }

  int32_t WriteAt(intptr_t Handle, int64_t Pos, const void* Buf, uint32_t Count) override {
    if (Pos < 0 || Pos > std::numeric_limits<off_t>::max()) return -1;
    if (Count > 0x40000000u) Count = 0x40000000u;
    ssize_t N;
    do N = pwrite(static_cast<int>(Handle), Buf, Count, static_cast<off_t>(Pos));
    while (N < 0 && errno == EINTR);
    return static_cast<int32_t>(N);
  }

  int64_t Size(intptr_t Handle) override {
    struct stat St;
    if (fstat(static_cast<int>(Handle), &St) != 0) return -1;
    return static_cast<int64_t>(St.st_size);
  }

  bool Truncate(intptr_t Handle, int64_t Pos) override {
    return Pos >= 0 && ftruncate(static_cast<int>(Handle), static_cast<off_t>(Pos)) == 0;
  }

  bool Sync(intptr_t Handle) override { return fsync(static_cast<int>(Handle)) == 0; }

  bool SyncDir(std::string_view Path) override { return UsablePath(Path) && SyncParent(Native(Path)); }

  bool SyncAll(std::string_view Path) override {
    if (!UsablePath(Path)) return false;
    int Fd = open(ParentOf(Native(Path)).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (Fd < 0) return false;
    bool Ok = syncfs(Fd) == 0;
    close(Fd);
    return Ok;
  }

  bool Close(intptr_t Handle) override {
    // The descriptor is gone after close() whatever it returns; EINTR is
    // not a failure to retry.
    return close(static_cast<int>(Handle)) == 0 || errno == EINTR;
  }

  bool FileExists(std::string_view Path) override {
    struct stat St;
    return UsablePath(Path) && StatPath(Path, St) && S_ISREG(St.st_mode);
  }

  bool DirExists(std::string_view Path) override {
    struct stat St;
    return UsablePath(Path) && StatPath(Path, St) && S_ISDIR(St.st_mode);
  }

  bool List(std::string_view Mask, std::vector<tDirEntry>& Out) override { return ListEntries(Mask, Out, true); }
  bool ListNames(std::string_view Mask, std::vector<tDirEntry>& Out) override { return ListEntries(Mask, Out, false); }

  // List, and ListNames without Sizes: then an entry whose kind the listing
  // tells (nearly every one, on the usual file systems) costs no call.
  bool ListEntries(std::string_view Mask, std::vector<tDirEntry>& Out, bool Sizes) {
    Out.clear();
    if (!UsablePath(Mask)) return false;
    std::string M(Mask);
    std::replace(M.begin(), M.end(), '\\', '/');
    size_t Slash = M.rfind('/');
    std::string Dir, Pattern;
    if (Slash == std::string::npos) {
      Pattern = M;
    } else {
      Dir = Native(M.substr(0, Slash == 0 ? 1 : Slash));
      Pattern = M.substr(Slash + 1);
    }
    DIR* D = opendir(Dir.empty() ? "." : Dir.c_str());
    if (!D) return false;
    int DirFd = dirfd(D);
    std::vector<tDirEntry> Found;
    while (dirent* E = readdir(D)) {
      std::string_view Name(E->d_name);
      if (Name == "." || Name == ".." || Name.size() > tShortString::MaxLength) continue;
      if (Pattern.empty() || !MaskMatches(Pattern, Name)) continue;
      // Files and directories only: a FIFO, socket, device or dangling
      // link named like a message is no message.
      tDirEntry Entry;
      Entry.Name = Name;
      if (!Sizes && (E->d_type == DT_REG || E->d_type == DT_DIR)) {
        Entry.IsDir = E->d_type == DT_DIR;
        Entry.Size = -1;
        Found.push_back(Entry);
        continue;
      }
      struct stat St;
      if (fstatat(DirFd, E->d_name, &St, 0) != 0 || !(S_ISREG(St.st_mode) || S_ISDIR(St.st_mode))) continue;
      Entry.IsDir = S_ISDIR(St.st_mode);
      Entry.Size = !Sizes ? -1 : Entry.IsDir ? 0 : static_cast<int64_t>(St.st_size);
      Found.push_back(Entry);
    }
    closedir(D);
    std::sort(Found.begin(), Found.end(),
              [](const tDirEntry& A, const tDirEntry& B) { return CompareBytes(A.Name.View(), B.Name.View()) < 0; });
    // Every directory but the root holds "." and ".."; they are how a
    // search for "*.*" finds an empty directory.
    if (!Pattern.empty() && MaskMatches(Pattern, "..") && !IsRoot(Dir)) {
      for (const char* Dot : {".", ".."}) {
        tDirEntry Entry;
        Entry.Name = Dot;
        Entry.IsDir = true;
        Entry.Size = Sizes ? 0 : -1;
        Out.push_back(Entry);
      }
    }
    Out.insert(Out.end(), Found.begin(), Found.end());
    return true;
  }

  bool MakeDir(std::string_view Path) override {
    return UsablePath(Path) && mkdir(Native(Path).c_str(), 0777) == 0;
  }

  bool Remove(std::string_view Path) override {
    if (!UsablePath(Path)) return false;
    std::string P = Native(Path);
    struct stat St;
    if (lstat(P.c_str(), &St) != 0 || S_ISDIR(St.st_mode)) return false;
    int Fd;
    if (!NotInUse(P, Fd)) return false;
    bool Ok = unlink(P.c_str()) == 0;
    if (Fd >= 0) close(Fd);
    return Ok;
  }

  bool RemoveDir(std::string_view Path) override { return UsablePath(Path) && rmdir(Native(Path).c_str()) == 0; }

  bool RemoveAll(const std::vector<tShortString>& Paths, int Locked) override {
    // First every file is made ours: it must exist, be no directory, have a
    // write permission (one without any is read-only, which keeps a base on
    // Windows), lie in a directory we may change, and take the exclusive
    // flock. The file of the base's record lock comes first and must take
    // that lock too (a read lock, which an open for reading can hold and
    // which keeps every writer out). The locks are held until every name
    // is gone, so no writer of ours or of another program's can open one of
    // the files between the check and the unlink.
    std::vector<size_t> Order;
    if (Locked >= 0 && static_cast<size_t>(Locked) < Paths.size()) Order.push_back(static_cast<size_t>(Locked));
    for (size_t I = 0; I < Paths.size(); ++I)
      if (static_cast<int>(I) != Locked) Order.push_back(I);
    std::vector<std::string> Names(Paths.size());
    std::vector<int> Held;
    bool Ok = true;
    for (size_t I : Order) {
      const tShortString& Path = Paths[I];
      struct stat St;
      std::string P = UsablePath(Path.View()) ? Native(Path.View()) : std::string();
      int Fd = -1;
      if (P.empty() || lstat(P.c_str(), &St) != 0 || S_ISDIR(St.st_mode) || (St.st_mode & 0222) == 0 ||
          access(ParentOf(P).c_str(), W_OK | X_OK) != 0 || !NotInUse(P, Fd)) {
        Ok = false;
        break;
      }
      if (static_cast<int>(I) == Locked && Fd < 0) {
        // A link: the lock is on the file it leads to.
        Fd = open(P.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
      }
      if (Fd >= 0) Held.push_back(Fd);
      if (static_cast<int>(I) == Locked && (Fd < 0 || PollLock([Fd] { return RecordLock(Fd, F_RDLCK); }) != lkTaken)) {
        Ok = false;
        break;
      }
      Names[I] = P;
    }
    for (size_t I = 0; Ok && I < Names.size(); ++I) Ok = unlink(Names[I].c_str()) == 0;
    for (int Fd : Held) close(Fd);
    return Ok;
  }

  bool FinalTarget(std::string_view Path, tShortString& Target) override {
    if (!UsablePath(Path)) return false;
    std::string P = Native(Path);
    // A chain of links as the system follows it, up to its own limit of
    // links in a row.
    for (int Hops = 0; Hops < 40; ++Hops) {
      struct stat St;
      if (lstat(P.c_str(), &St) != 0 || !S_ISLNK(St.st_mode)) {
        if (Hops == 0) {  // no link: the name as the caller wrote it
          Target = tShortString(Path);
          return Path.size() <= tShortString::MaxLength;
        }
        if (P.size() > tShortString::MaxLength) return false;
        Target = tShortString(P);
        return true;
      }
      char Buf[4096];
      ssize_t N = readlink(P.c_str(), Buf, sizeof Buf);
      if (N <= 0 || N >= static_cast<ssize_t>(sizeof Buf)) return false;
      std::string Link(Buf, static_cast<size_t>(N));
      P = Link[0] == '/' ? Link : ParentOf(P) + "/" + Link;
    }
    return false;
  }

  bool Replace(std::string_view Source, std::string_view Target) override {
    if (!UsablePath(Source) || !UsablePath(Target)) return false;
    std::string S = Native(Source), T = Native(Target);
    struct stat Ss, Ts;
    if ( stat(S.c_str(), &Ss) != 0 || S_ISDIR(Ss.st_mode)) return false;
    // The new contents must be on the disk before the name points at them.
    int SFd = open(S.c_str(), O_RDONLY | O_CLOEXEC);
    if (SFd < 0) return false;
    bool Ok = fsync(SFd) == 0;
    int TFd = -1;
    if (Ok && lstat(T.c_str(), &Ts) == 0) {
      if (S_ISDIR(Ts.st_mode) || !NotInUse(T, TFd)) Ok = false;
      // Keep the target's owner where we may, and its permission bits.
      if (Ok && (Ts.st_uid != Ss.st_uid || Ts.st_gid != Ss.st_gid)) {
        if (fchown(SFd, Ts.st_uid, Ts.st_gid) != 0) {
          // Only root may give a file away; the permission bits still follow.
        }
      }
      if (Ok && fchmod(SFd, Ts.st_mode & 07777) != 0) Ok = false;
    }
    close(SFd);
    if (Ok) Ok = rename(S.c_str(), T.c_str()) == 0;
    if (TFd >= 0) close(TFd);
    return Ok;
  }

  bool OpenLock(intptr_t File, intptr_t& Lock, tFileId& Id) override {
    // A description of its own on the very file File holds, whatever its
    // name is now: the lock must be on that file, and the sharing
    // emulation's flock must not see it.
    std::string Self = "/proc/self/fd/" + std::to_string(File);
    int Fd;
    do Fd = open(Self.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    while (Fd < 0 && errno == EINTR);
    struct stat St;
    if (Fd >= 0 && fstat(Fd, &St) != 0) {
      close(Fd);
      Fd = -1;
    }
    Lock = Fd;
    if (Fd < 0) return false;
    Id.Device = static_cast<uint64_t>(St.st_dev);
    Id.Node = static_cast<uint64_t>(St.st_ino);
    return true;
  }

  int TryLock(intptr_t Lock) override { return RecordLock(static_cast<int>(Lock), F_WRLCK); }

  void Unlock(intptr_t Lock) override { RecordLock(static_cast<int>(Lock), F_UNLCK); }

  void CloseLock(intptr_t Lock) override { close(static_cast<int>(Lock)); }

  bool LockNamed(const tFileId& Id, std::string_view Path) override {
    struct stat Named;
    return UsablePath(Path) && StatPath(Path, Named) && Id.Device == static_cast<uint64_t>(Named.st_dev) &&
           Id.Node == static_cast<uint64_t>(Named.st_ino);
  }

  tShortString FullPath(std::string_view Path) override {
    std::string P(Path);
    std::replace(P.begin(), P.end(), '\\', '/');
    if (P.empty() || P[0] != '/') {
      char Cwd[4096];
      if (!getcwd(Cwd, sizeof Cwd)) return tShortString(P);
      P = std::string(Cwd) + "/" + P;
    }
    // Lexically, as GetFullPathNameA does: "." and ".." and doubled
    // separators go; nothing needs to exist.
    std::vector<std::string> Parts;
    size_t I = 0;
    while (I <= P.size()) {
      size_t J = P.find('/', I);
      if (J == std::string::npos) J = P.size();
      std::string Comp = P.substr(I, J - I);
      if (Comp == "..") {
        if (!Parts.empty()) Parts.pop_back();
      } else if (!Comp.empty() && Comp != ".") {
        Parts.push_back(Comp);
      }
      I = J + 1;
    }
    std::string Out;
    for (const std::string& Comp : Parts) {
      Out += '/';
      Out += Comp;
    }
    if (Out.empty()) Out += '/';
    if (P.size() > 1 && P.back() == '/' && Out != "/") Out += '/';
    return tShortString(Out);
  }
};

}  // namespace

tFileSystem& RealFileSystem() {
  static tPosixFileSystem Fs;
  return Fs;
}

// The open refuses a lock it cannot have with EBUSY (see Open above).
bool IsSharingViolation(int Error) { return Error == EBUSY; }

tShortString ExecutablePath() {
  char Buf[4096];
  ssize_t N = readlink("/proc/self/exe", Buf, sizeof Buf - 1);
  if (N <= 0) return tShortString();
  return tShortString(Buf, static_cast<size_t>(N));
}

}  // namespace kelvane
