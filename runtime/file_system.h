// The operating system's files and directories behind one interface.
//
// Everything above runtime/ reaches the disk through the free functions below
// and through tBufStream, which both call the current tFileSystem. Tests put
// a wrapper in its place (SetFileSystem) that forwards to the real one and
// fails a chosen call, to prove that a failed write loses nothing.
//
// Paths are the system's own text: on Windows they go to the ...A calls as
// they are. On POSIX every '\' becomes '/', and a path component that does
// not exist as written is looked up in its directory with ASCII letters
// folded (first match in byte order), so C:\FE-style relative parts and
// names stored in another case are found as Windows finds them.
//
// Only regular files are files here: existence tests, opens and listings
// pass over FIFOs, sockets and devices, and no open waits for a peer (a
// FIFO named like a message file must not stop the run). A path holding a
// NUL byte is refused by every call: the system would see a shorter name
// than the one we printed or built a temporary name from.
//
// Sharing: Windows enforces the sharing bits of the mode word between
// processes. POSIX has no sharing modes; a deny-none open takes a shared
// advisory lock (flock LOCK_SH|LOCK_NB), an exclusive one LOCK_EX|LOCK_NB,
// and a lock that cannot be had is a sharing violation: the open fails.
//
// Record locks: the lock other FidoNet software takes on a base while it
// changes it, a lock on the first byte of one of its files (file_lock.h).
// Windows: LockFileEx on the file's own handle. Linux: an open file
// description lock (fcntl F_OFD_SETLK), which meets the classic fcntl and
// lockf locks of other programs but, unlike them, belongs to one open file
// description: closing another descriptor of the file in this process does
// not drop it, and two descriptions in one process exclude each other as
// two processes do. On Linux such locks never meet the flock locks of the
// sharing emulation.
#ifndef KELVANE_RUNTIME_FILE_SYSTEM_H_
#define KELVANE_RUNTIME_FILE_SYSTEM_H_

#include <cstdint>
#include <string_view>
#include <vector>

#include "runtime/short_string.h"

namespace kelvane {

struct tDirEntry {
  tShortString Name;  // the name as stored on disk
  bool IsDir = false;
  int64_t Size = 0;
};

// The mode word of stream.h taken apart. A high byte with bit 0x01 set
// opens an existing file (0x3D), any other creates or empties one (0x3C):
// the OR of a create mode with an open mode is an open.
enum : uint8_t { shDenyNone, shDenyAll, shDenyWrite, shDenyRead };

// Which file a lock handle holds, where the system tells (device and
// inode on Linux; nothing on Windows).
struct tFileId {
  uint64_t Device = 0;
  uint64_t Node = 0;
};
struct tOpenMode {
  bool Valid = false;  // false for the access code 3, which names nothing
  bool Create = false;
  bool New = false;  // fmCreateNew: the name must not exist, links included
  bool Read = false;
  bool Write = false;
  uint8_t Share = shDenyNone;
};
tOpenMode DecodeOpenMode(uint16_t Mode);

class tFileSystem {
 public:
  virtual ~tFileSystem();

  // Opens or creates Path by the mode word of stream.h. On success returns
  // true and sets Handle (>= 0); on failure returns false and sets Error to
  // the system's error code.
  virtual bool Open(std::string_view Path, uint16_t Mode, intptr_t& Handle, int& Error) = 0;
  // Open, and Size set to the size of the file opened (-1 when it cannot
  // be told). Here Open and then Size; a backend whose open learns the
  // size anyway saves the call.
  virtual bool OpenSized(std::string_view Path, uint16_t Mode, intptr_t& Handle, int& Error, int64_t& Size);
  // Reads up to Count bytes at the handle's position; returns the count
  // read (0 at the end) or -1 on error.
  virtual int32_t Read(intptr_t Handle, void* Buf, uint32_t Count) = 0;
  // Writes Count bytes; returns the count written or -1 on error.
  virtual int32_t Write(intptr_t Handle, const void* Buf, uint32_t Count) = 0;
  virtual bool Seek(intptr_t Handle, int64_t Pos) = 0;
  // Seek, then Read (Write): the base does the two; a backend may do them
  // in one call. The handle's position afterwards is not defined.
  virtual int32_t ReadAt(intptr_t Handle, int64_t Pos, void* Buf, uint32_t Count);
  virtual int32_t WriteAt(intptr_t Handle, int64_t Pos, const void* Buf, uint32_t Count);
  virtual int64_t Size(intptr_t Handle) = 0;  // -1 on error
  // Sets the end of the file at Pos.
  virtual bool Truncate(intptr_t Handle, int64_t Pos) = 0;
  // Puts what the system holds for the file on the disk.
  virtual bool Sync(intptr_t Handle) = 0;
  // Puts the entries of the folder that holds Path on the disk, so that a
  // file made or renamed there is found after a crash (Windows writes them
  // through by itself).
  virtual bool SyncDir(std::string_view Path) = 0;
  // Puts on the disk all that the system holds for the file system of the
  // folder that holds Path, in one call where the system has one (Linux:
  // syncfs): for a folder of thousands of files just written, instead of a
  // call per file. False where it has none (Windows) or the call failed.
  virtual bool SyncAll(std::string_view Path) = 0;
  virtual bool Close(intptr_t Handle) = 0;

  virtual bool FileExists(std::string_view Path) = 0;  // exists, not a directory
  virtual bool DirExists(std::string_view Path) = 0;
  // Lists the entries that match a mask path such as "dir\*.msg" the way
  // FindFirstFileA does: '*' and '?' wildcards, letters matched without
  // regard to case, and "*" or "*.*" also yield "." and ".." in a directory
  // other than the root. Returns false when the directory cannot be read.
  virtual bool List(std::string_view Mask, std::vector<tDirEntry>& Out) = 0;
  // List with every Size -1: the names and kinds of the entries, which a
  // backend may learn from the listing alone, with no call per entry. Here
  // List.
  virtual bool ListNames(std::string_view Mask, std::vector<tDirEntry>& Out);
  // The calls below return true on success.
  virtual bool MakeDir(std::string_view Path) = 0;  // one level
  // Deletes a file. As on Windows, a file that is open (through a stream of
  // this or another process) is not deleted.
  virtual bool Remove(std::string_view Path) = 0;
  virtual bool RemoveDir(std::string_view Path) = 0;
  // Puts Source in place of Target in one step, replacing Target, with
  // Target's permission bits when it existed; Source's contents are on the
  // disk before. As on Windows, a Target that is open is not replaced. The
  // folder's entries are left to SyncDir.
  virtual bool Replace(std::string_view Source, std::string_view Target) = 0;
  virtual tShortString FullPath(std::string_view Path) = 0;
  // The name of the file that Path stands for once symbolic links are
  // followed, so that a rewrite replaces the file and not the link; Path
  // itself when it is no link or does not exist. False when the links loop
  // or the name they lead to does not fit a system string.
  virtual bool FinalTarget(std::string_view Path, tShortString& Target) = 0;
  // Deletes every file of Paths or none of them: when one is missing, a
  // directory, open elsewhere, read-only (no write permission at all) or
  // otherwise not removable, nothing is deleted. Locked, when it is an
  // index into Paths, names the file that carries the base's record lock:
  // that lock is had first (waiting as tFileLock waits) and held until
  // every file is gone, and a lock another program keeps past the wait
  // keeps every file. True when all are gone.
  virtual bool RemoveAll(const std::vector<tShortString>& Paths, int Locked) = 0;

  // Record locks on the first byte of the file that the handle File holds.
  // OpenLock makes the handle that takes them (Windows: File itself; Linux:
  // a description of its own on the same file, which the sharing emulation
  // does not see, so the lock can be held while the file's streams close
  // and another file takes its name), and tells which file it holds.
  // TryLock: 1 when the lock is taken, 0 when another holder has it, -1 on
  // an error. LockNamed: whether Path still leads to the file Id names
  // (false once another file took its place or it was removed; always
  // true on Windows, where a file that is open cannot be replaced).
  virtual bool OpenLock(intptr_t File, intptr_t& Lock, tFileId& Id) = 0;
  virtual int TryLock(intptr_t Lock) = 0;
  virtual void Unlock(intptr_t Lock) = 0;
  virtual void CloseLock(intptr_t Lock) = 0;
  virtual bool LockNamed(const tFileId& Id, std::string_view Path) = 0;
};

// Forwards every call to the real backend: the base of the test stand-ins
// that watch or fail a few chosen calls.
class tForwardingFileSystem : public tFileSystem {
 public:
  bool Open(std::string_view P, uint16_t Mode, intptr_t& H, int& E) override { return Real().Open(P, Mode, H, E); }
  int32_t Read(intptr_t H, void* B, uint32_t C) override { return Real().Read(H, B, C); }
  int32_t Write(intptr_t H, const void* B, uint32_t C) override { return Real().Write(H, B, C); }
  bool Seek(intptr_t H, int64_t Pos) override { return Real().Seek(H, Pos); }
  int64_t Size(intptr_t H) override { return Real().Size(H); }
  bool Truncate(intptr_t H, int64_t Pos) override { return Real().Truncate(H, Pos); }
  bool Sync(intptr_t H) override { return Real().Sync(H); }
  bool SyncDir(std::string_view P) override { return Real().SyncDir(P); }
  bool SyncAll(std::string_view P) override { return Real().SyncAll(P); }
  bool Close(intptr_t H) override { return Real().Close(H); }
  bool FileExists(std::string_view P) override { return Real().FileExists(P); }
  bool DirExists(std::string_view P) override { return Real().DirExists(P); }
  bool List(std::string_view Mask, std::vector<tDirEntry>& Out) override { return Real().List(Mask, Out); }
  bool MakeDir(std::string_view P) override { return Real().MakeDir(P); }
  bool Remove(std::string_view P) override { return Real().Remove(P); }
  bool RemoveDir(std::string_view P) override { return Real().RemoveDir(P); }
  bool Replace(std::string_view S, std::string_view T) override { return Real().Replace(S, T); }
  tShortString FullPath(std::string_view P) override { return Real().FullPath(P); }
  bool FinalTarget(std::string_view P, tShortString& T) override { return Real().FinalTarget(P, T); }
  bool RemoveAll(const std::vector<tShortString>& Paths, int Locked) override { return Real().RemoveAll(Paths, Locked); }
  bool OpenLock(intptr_t F, intptr_t& L, tFileId& Id) override { return Real().OpenLock(F, L, Id); }
  int TryLock(intptr_t L) override { return Real().TryLock(L); }
  void Unlock(intptr_t L) override { Real().Unlock(L); }
  void CloseLock(intptr_t L) override { Real().CloseLock(L); }
  bool LockNamed(const tFileId& Id, std::string_view P) override { return Real().LockNamed(Id, P); }

 protected:
  static tFileSystem& Real();
};

// The file system in use; the real one unless a test installed another.
tFileSystem& FileSystem();
// Installs Fs (not owned); nullptr restores the real one.
void SetFileSystem(tFileSystem* Fs);
// The real backend of this platform.
tFileSystem& RealFileSystem();

// Convenience calls on the current file system.
bool FileExists(std::string_view Path);
bool DirExists(std::string_view Path);
bool ListDir(std::string_view Mask, std::vector<tDirEntry>& Out);
// The same without the sizes (tFileSystem::ListNames).
bool ListDirNames(std::string_view Mask, std::vector<tDirEntry>& Out);
// Creates Dir and every missing parent, one level at a time. Returns true
// when Dir exists afterwards; an empty Dir stands for the current directory.
bool MakeDirChain(std::string_view Dir);
bool RemoveFile(std::string_view Path);
// Every file of Paths, or none (see tFileSystem::RemoveAll); Locked is the
// index of the file whose record lock must be had, or -1.
bool RemoveFilesAllOrNone(const std::vector<tShortString>& Paths, int Locked = -1);
// Puts Source in place of Target and its folder's entries on the disk.
// tReplaceResult tells a rename that took place from one that did not:
// rpDone, rpFailed (Target as it was), rpNotSynced (Target is the new
// file, but the folder's entries may not be on the disk yet).
enum tReplaceResult : uint8_t { rpDone, rpFailed, rpNotSynced };
tReplaceResult ReplaceFileSynced(std::string_view Source, std::string_view Target);
// The same, true only for rpDone.
bool ReplaceFile(std::string_view Source, std::string_view Target);
tShortString FullPathOf(std::string_view Path);
// The full path of the running program.
tShortString ExecutablePath();
// True for a path the file layer takes at all: not empty, and no NUL in it.
bool UsablePath(std::string_view Path);
// Whether the error code of a failed open (a stream's ErrorInfo after
// stInitError) means that another process holds the file in a way the
// sharing mode of the open does not allow (a platform part).
bool IsSharingViolation(int Error);

}  // namespace kelvane

#endif  // KELVANE_RUNTIME_FILE_SYSTEM_H_
