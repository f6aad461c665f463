// The file layer on Windows: the ...A calls with the system's paths as they
// are, and the sharing bits of the mode word handed to CreateFileA.
#include <algorithm>
#include <string>

#include "runtime/clock.h"
#include "runtime/file_lock.h"
#include "runtime/file_system.h"

// After our headers, so that its macros (ReplaceFile and the like) do not
// rename our declarations.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace kelvane {

namespace {

std::string Z(std::string_view Path) { return std::string(Path); }

HANDLE H(intptr_t Handle) { return reinterpret_cast<HANDLE>(Handle); }

DWORD ShareFlags(uint8_t Share) {
  switch (Share) {
    case shDenyNone: return FILE_SHARE_READ | FILE_SHARE_WRITE;
    case shDenyWrite: return FILE_SHARE_READ;
    case shDenyRead: return FILE_SHARE_WRITE;
    default: return 0;
  }
}

// Another program's record lock makes a read or write of the bytes it
// covers fail with ERROR_LOCK_VIOLATION (locks are binding on Windows): a
// reader of a base meets it while a writer changes the base. A call at a
// position of its own is tried again for as long as a writer waits for a
// lock.
template <class F>
bool PastLocks(F&& Call) {
  bool Done = false;
  PollLock([&] {
    if (Call()) {
      Done = true;
      return 1;
    }
    return GetLastError() == ERROR_LOCK_VIOLATION ? 0 : -1;
  });
  return Done;
}

// An OVERLAPPED that names Pos: on a handle opened for synchronous work,
// ReadFile and WriteFile then start there and return when done.
OVERLAPPED At(int64_t Pos) {
  OVERLAPPED Ov{};
  Ov.Offset = static_cast<DWORD>(static_cast<uint64_t>(Pos));
  Ov.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(Pos) >> 32);
  return Ov;
}

bool LockFirstByte(HANDLE H, DWORD Flags) {
  OVERLAPPED Ov{};
  return LockFileEx(H, Flags | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &Ov) != 0;
}

bool SetPos(HANDLE F, int64_t Pos) {
  LARGE_INTEGER L;
  L.QuadPart = Pos;
  return Pos >= 0 && SetFilePointerEx(F, L, nullptr, FILE_BEGIN) != 0;
}

class tWin32FileSystem : public tFileSystem {
 public:
  bool Open(std::string_view Path, uint16_t Mode, intptr_t& Handle, int& Error) override {
    tOpenMode M = DecodeOpenMode(Mode);
    Handle = -1;
    if (!M.Valid || !UsablePath(Path)) {
      Error = ERROR_INVALID_PARAMETER;
      return false;
    }
    DWORD Access = (M.Read ? GENERIC_READ : 0) | (M.Write ? GENERIC_WRITE : 0);
    DWORD How = M.New ? CREATE_NEW : (M.Create ? CREATE_ALWAYS : OPEN_EXISTING);
    HANDLE F = CreateFileA(Z(Path).c_str(), Access, ShareFlags(M.Share), nullptr, How, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (F == INVALID_HANDLE_VALUE) {
      Error = static_cast<int>(GetLastError());
      return false;
    }
    // A device (CON, NUL, COM1) or a named pipe is not a file.
    if (GetFileType(F) != FILE_TYPE_DISK) {
      CloseHandle(F);
      Error = ERROR_INVALID_PARAMETER;
      return false;
    }
    Handle = reinterpret_cast<intptr_t>(F);
    return true;
  }

  int32_t Read(intptr_t Handle, void* Buf, uint32_t Count) override {
    if (Count > 0x40000000u) Count = 0x40000000u;
    DWORD Got = 0;
    if (!ReadFile(H(Handle), Buf, Count, &Got, nullptr)) return -1;
    return static_cast<int32_t>(Got);
  }

  int32_t Write(intptr_t Handle, const void* Buf, uint32_t Count) override {
    if (Count > 0x40000000u) Count = 0x40000000u;
    DWORD Put = 0;
    if (!WriteFile(H(Handle), Buf, Count, &Put, nullptr)) return -1;
    return static_cast<int32_t>(Put);
  }

  bool Seek(intptr_t Handle, int64_t Pos) override { return SetPos(H(Handle), Pos); }

  int32_t ReadAt(intptr_t Handle, int64_t Pos, void* Buf, uint32_t Count) override {
    if (Pos < 0) return -1;
    if (Count > 0x40000000u) Count = 0x40000000u;
    DWORD Got = 0;
    bool Ok = PastLocks([&] {
      OVERLAPPED Ov = At(Pos);
      if (ReadFile(H(Handle), Buf, Count, &Got, &Ov)) return true;
      if (GetLastError() != ERROR_HANDLE_EOF) return false;
      Got = 0;  // a read from the end of the file gives nothing
      return true;
    });
    return Ok ? static_cast<int32_t>(Got) : -1;
  }

  int32_t WriteAt(intptr_t Handle, int64_t Pos, const void* Buf, uint32_t Count) override {
    if (Pos < 0) return -1;
    if (Count > 0x40000000u) Count = 0x40000000u;
    DWORD Put = 0;
    bool Ok = PastLocks([&] {
      OVERLAPPED Ov = At(Pos);
      return WriteFile(H(Handle), Buf, Count, &Put, &Ov) != 0;
    });
    return Ok ? static_cast<int32_t>(Put) : -1;
  }

  int64_t Size(intptr_t Handle) override {
    LARGE_INTEGER L;
    if (!GetFileSizeEx(H(Handle), &L)) return -1;
    return static_cast<int64_t>(L.QuadPart);
  }

  bool Truncate(intptr_t Handle, int64_t Pos) override {
    return SetPos(H(Handle), Pos) && SetEndOfFile(H(Handle)) != 0;
  }

  bool Sync(intptr_t Handle) override { return FlushFileBuffers(H(Handle)) != 0; }

  // MoveFileExA writes a rename through (MOVEFILE_WRITE_THROUGH), and NTFS
  // keeps its folders in its own journal.
  bool SyncDir(std::string_view) override { return true; }

  // Only an administrator may flush a whole volume.
  bool SyncAll(std::string_view) override { return false; }

  bool Close(intptr_t Handle) override { return CloseHandle(H(Handle)) != 0; }

  bool FileExists(std::string_view Path) override {
    if (!UsablePath(Path)) return false;
    DWORD A = GetFileAttributesA(Z(Path).c_str());
    return A != INVALID_FILE_ATTRIBUTES && !(A & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE));
  }

  bool DirExists(std::string_view Path) override {
    if (!UsablePath(Path)) return false;
    DWORD A = GetFileAttributesA(Z(Path).c_str());
    return A != INVALID_FILE_ATTRIBUTES && (A & FILE_ATTRIBUTE_DIRECTORY);
  }

  bool List(std::string_view Mask, std::vector<tDirEntry>& Out) override {
    Out.clear();
    if (!UsablePath(Mask)) return false;
    WIN32_FIND_DATAA D;
    HANDLE F = FindFirstFileA(Z(Mask).c_str(), &D);
    if (F == INVALID_HANDLE_VALUE) {
      DWORD E = GetLastError();
      return E == ERROR_FILE_NOT_FOUND || E == ERROR_NO_MORE_FILES;
    }
    std::vector<tDirEntry> Found;
    do {
      tDirEntry Entry;
      Entry.Name = D.cFileName;
      Entry.IsDir = (D.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      Entry.Size = Entry.IsDir ? 0 : static_cast<int64_t>((static_cast<uint64_t>(D.nFileSizeHigh) << 32) | D.nFileSizeLow);
      bool Dot = Entry.Name == "." || Entry.Name == "..";
      (Dot ? Out : Found).push_back(Entry);
    } while (FindNextFileA(F, &D));
    FindClose(F);
    // The order the system gives depends on the file system; byte order
    // makes listings the same everywhere.
    std::sort(Found.begin(), Found.end(),
              [](const tDirEntry& A, const tDirEntry& B) { return CompareBytes(A.Name.View(), B.Name.View()) < 0; });
    Out.insert(Out.end(), Found.begin(), Found.end());
    return true;
  }

  bool MakeDir(std::string_view Path) override { return UsablePath(Path) && CreateDirectoryA(Z(Path).c_str(), nullptr) != 0; }
  bool Remove(std::string_view Path) override { return UsablePath(Path) && DeleteFileA(Z(Path).c_str()) != 0; }
  bool RemoveDir(std::string_view Path) override { return UsablePath(Path) && RemoveDirectoryA(Z(Path).c_str()) != 0; }

  bool RemoveAll(const std::vector<tShortString>& Paths, int Locked) override {
    // Each file is opened for deletion with no sharing, which fails while
    // any other program holds it (and so while one holds its record lock,
    // which needs an open handle); only when every one of them is ours is
    // each marked to go when its handle closes. The record lock is taken
    // all the same, to keep to the format's rule.
    std::vector<HANDLE> Held;
    bool Ok = true;
    for (size_t I = 0; I < Paths.size(); ++I) {
      const tShortString& Path = Paths[I];
      DWORD A = UsablePath(Path.View()) ? GetFileAttributesA(Path.CStr()) : INVALID_FILE_ATTRIBUTES;
      HANDLE F = INVALID_HANDLE_VALUE;
      if (A != INVALID_FILE_ATTRIBUTES && !(A & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)))
        F = CreateFileA(Path.CStr(), DELETE | GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (F != INVALID_HANDLE_VALUE) Held.push_back(F);
      if (F == INVALID_HANDLE_VALUE || (static_cast<int>(I) == Locked && !LockFirstByte(F, LOCKFILE_EXCLUSIVE_LOCK))) {
        Ok = false;
        break;
      }
    }
    size_t Marked = 0;
    for (; Ok && Marked < Held.size(); ++Marked) {
      FILE_DISPOSITION_INFO Info;
      Info.DeleteFile = TRUE;
      Ok = SetFileInformationByHandle(Held[Marked], FileDispositionInfo, &Info, sizeof Info) != 0;
    }
    if (!Ok) {
      // Take the marks back: none of the files goes.
      for (size_t I = 0; I < Marked; ++I) {
        FILE_DISPOSITION_INFO Info;
        Info.DeleteFile = FALSE;
        SetFileInformationByHandle(Held[I], FileDispositionInfo, &Info, sizeof Info);
      }
    }
    for (HANDLE F : Held) CloseHandle(F);
    return Ok;
  }

  // The lock is taken on the stream's own handle: Windows' locks bind every
  // other handle, this process's too, so a lock on a handle of its own would
  // keep the stream from writing the first byte.
  bool OpenLock(intptr_t File, intptr_t& Lock, tFileId&) override {
    Lock = File;
    return File >= 0;
  }

  int TryLock(intptr_t Lock) override {
    if (LockFirstByte(H(Lock), LOCKFILE_EXCLUSIVE_LOCK)) return 1;
    return GetLastError() == ERROR_LOCK_VIOLATION ? 0 : -1;
  }

  void Unlock(intptr_t Lock) override {
    OVERLAPPED Ov{};
    UnlockFileEx(H(Lock), 0, 1, 0, &Ov);
  }

  void CloseLock(intptr_t) override {}

  bool LockNamed(const tFileId&, std::string_view) override { return true; }

  // Windows' own links are rare among FidoNet files and MoveFileExA puts a
  // file in place of one as of any file: a name stands for itself.
  bool FinalTarget(std::string_view Path, tShortString& Target) override {
    if (!UsablePath(Path) || Path.size() > tShortString::MaxLength) return false;
    Target = tShortString(Path);
    return true;
  }

  bool Replace(std::string_view Source, std::string_view Target) override {
    if (!UsablePath(Source) || !UsablePath(Target)) return false;
    std::string S = Z(Source), T = Z(Target);
    DWORD Attr = GetFileAttributesA(T.c_str());
    if (Attr != INVALID_FILE_ATTRIBUTES && (Attr & FILE_ATTRIBUTE_DIRECTORY)) return false;
    if (!MoveFileExA(S.c_str(), T.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return false;
    // The new file takes the attributes the old one had.
    constexpr DWORD Kept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
    if (Attr != INVALID_FILE_ATTRIBUTES) SetFileAttributesA(T.c_str(), Attr & Kept);
    return true;
  }

  tShortString FullPath(std::string_view Path) override {
    char Buf[MAX_PATH * 2];
    DWORD N = GetFullPathNameA(Z(Path).c_str(), sizeof Buf, Buf, nullptr);
    if (N == 0 || N >= sizeof Buf) return tShortString(Path);
    return tShortString(Buf, N);
  }
};

}  // namespace

tFileSystem& RealFileSystem() {
  static tWin32FileSystem Fs;
  return Fs;
}

bool IsSharingViolation(int Error) { return Error == ERROR_SHARING_VIOLATION || Error == ERROR_LOCK_VIOLATION; }

tShortString ExecutablePath() {
  char Buf[MAX_PATH * 2];
  DWORD N = GetModuleFileNameA(nullptr, Buf, sizeof Buf);
  if (N == 0 || N >= sizeof Buf) return tShortString();
  return tShortString(Buf, N);
}

}  // namespace kelvane
