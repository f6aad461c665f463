// Test support for the message-base tests, beside the temporary directory
// and file helpers of runtime/test_dir.h: a file system that watches and
// can refuse what the library does to the disk.
#ifndef KELVANE_MSGBASE_TEST_FS_H_
#define KELVANE_MSGBASE_TEST_FS_H_

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/file_system.h"
#include "runtime/test_dir.h"

namespace kelvane::testing {

inline bool IsFile(const std::string& Name) { return std::filesystem::is_regular_file(Name); }

// A base identifier: a type letter and a path. (A function rather than
// "F" + Path, which GCC 12 warns about wrongly for a temporary Path.)
inline std::string Letter(char L, const std::string& Path) {
  std::string Id(1, L);
  Id += Path;
  return Id;
}

// A file system that forwards every call to the real one, counts the calls
// that look at or change directories, and can refuse writes: installed with
// tFileSystemScope, it shows what an operation did to the disk and proves
// that a failed write is reported.
class tSpyFileSystem : public tForwardingFileSystem {
 public:
  int32_t Write(intptr_t H, const void* B, uint32_t C) override {
    if (FailWrites) return -1;
    return Real().Write(H, B, C);
  }
  bool List(std::string_view Mask, std::vector<tDirEntry>& Out) override {
    ++Lists;
    return Real().List(Mask, Out);
  }
  bool MakeDir(std::string_view P) override {
    ++Changes;
    return Real().MakeDir(P);
  }
  bool Remove(std::string_view P) override {
    ++Changes;
    return Real().Remove(P);
  }
  bool RemoveDir(std::string_view P) override {
    ++Changes;
    return Real().RemoveDir(P);
  }
  bool Replace(std::string_view S, std::string_view T) override {
    ++Changes;
    return Real().Replace(S, T);
  }
  bool RemoveAll(const std::vector<tShortString>& Paths) override {
    ++Changes;
    return Real().RemoveAll(Paths);
  }

  bool FailWrites = false;
  int Lists = 0;
  int Changes = 0;  // MakeDir, Remove, RemoveDir, Replace, RemoveAll
};

// Installs a file system for the life of the scope.
class tFileSystemScope {
 public:
  explicit tFileSystemScope(tFileSystem& Fs) { SetFileSystem(&Fs); }
  ~tFileSystemScope() { SetFileSystem(nullptr); }
};

}  // namespace kelvane::testing

#endif  // KELVANE_MSGBASE_TEST_FS_H_
