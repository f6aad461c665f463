// Test support for the message-base tests: a fresh temporary directory per
// test, removed with everything in it afterwards, and small file helpers
// that go around the library (so a test checks the library against the
// bytes on disk, not against itself).
#ifndef KELVANE_MSGBASE_TEST_DIR_H_
#define KELVANE_MSGBASE_TEST_DIR_H_

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "runtime/file_system.h"
#include "runtime/path.h"

namespace kelvane::testing {

class tTempDir {
 public:
  tTempDir() {
    static std::atomic<int> Serial{0};
    auto Base = std::filesystem::temp_directory_path();
    for (;;) {
      Dir_ = Base / ("kelvane-msgbase-" + std::to_string(std::rand()) + "-" + std::to_string(Serial++));
      if (std::filesystem::create_directory(Dir_)) break;
    }
  }
  ~tTempDir() {
    std::error_code Ignored;
    std::filesystem::remove_all(Dir_, Ignored);
  }
  tTempDir(const tTempDir&) = delete;
  tTempDir& operator=(const tTempDir&) = delete;

  // The directory, without a trailing separator.
  std::string Path() const { return Dir_.string(); }
  // Dir + separator + Name.
  std::string operator/(std::string_view Name) const { return Path() + PathSeparator + std::string(Name); }

 private:
  std::filesystem::path Dir_;
};

inline void WriteBytes(const std::string& Name, std::string_view Bytes) {
  std::ofstream Out(Name, std::ios::binary | std::ios::trunc);
  Out.write(Bytes.data(), static_cast<std::streamsize>(Bytes.size()));
}

inline std::string ReadBytes(const std::string& Name) {
  std::ifstream In(Name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
}

inline bool IsFile(const std::string& Name) { return std::filesystem::is_regular_file(Name); }

// A file system that forwards every call to the real one, counts the calls
// that look at or change directories, and can refuse writes: installed with
// tFileSystemScope, it shows what an operation did to the disk and proves
// that a failed write is reported.
class tSpyFileSystem : public tFileSystem {
 public:
  bool Open(std::string_view P, uint16_t Mode, intptr_t& H, int& E) override { return Real().Open(P, Mode, H, E); }
  int32_t Read(intptr_t H, void* B, uint32_t C) override { return Real().Read(H, B, C); }
  int32_t Write(intptr_t H, const void* B, uint32_t C) override {
    if (FailWrites) return -1;
    return Real().Write(H, B, C);
  }
  bool Seek(intptr_t H, int64_t Pos) override { return Real().Seek(H, Pos); }
  int64_t Size(intptr_t H) override { return Real().Size(H); }
  bool Truncate(intptr_t H, int64_t Pos) override { return Real().Truncate(H, Pos); }
  bool Sync(intptr_t H) override { return Real().Sync(H); }
  bool Close(intptr_t H) override { return Real().Close(H); }
  bool FileExists(std::string_view P) override { return Real().FileExists(P); }
  bool DirExists(std::string_view P) override { return Real().DirExists(P); }
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
  tShortString FullPath(std::string_view P) override { return Real().FullPath(P); }

  bool FailWrites = false;
  int Lists = 0;
  int Changes = 0;  // MakeDir, Remove, RemoveDir, Replace

 private:
  static tFileSystem& Real() { return RealFileSystem(); }
};

// Installs a file system for the life of the scope.
class tFileSystemScope {
 public:
  explicit tFileSystemScope(tFileSystem& Fs) { SetFileSystem(&Fs); }
  ~tFileSystemScope() { SetFileSystem(nullptr); }
};

}  // namespace kelvane::testing

#endif  // KELVANE_MSGBASE_TEST_DIR_H_
