// Test support for the runtime tests: a fresh temporary directory per test,
// removed with everything in it afterwards, and file helpers that go around
// the runtime (so a test checks the runtime against the bytes on disk, not
// against itself).
#ifndef KELVANE_RUNTIME_TEST_DIR_H_
#define KELVANE_RUNTIME_TEST_DIR_H_

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

class tRuntimeTempDir {
 public:
  tRuntimeTempDir() {
    static std::atomic<int> Serial{0};
    auto Base = std::filesystem::temp_directory_path();
    for (;;) {
      Dir_ = Base / ("kelvane-rt-" + std::to_string(std::rand()) + "-" + std::to_string(Serial++));
      if (std::filesystem::create_directory(Dir_)) break;
    }
  }
  ~tRuntimeTempDir() {
    std::error_code Ignored;
    std::filesystem::remove_all(Dir_, Ignored);
  }
  tRuntimeTempDir(const tRuntimeTempDir&) = delete;
  tRuntimeTempDir& operator=(const tRuntimeTempDir&) = delete;

  std::string Path() const { return Dir_.string(); }
  std::string operator/(std::string_view Name) const { return Path() + PathSeparator + std::string(Name); }

 private:
  std::filesystem::path Dir_;
};

inline void PutFile(const std::string& Name, std::string_view Bytes) {
  std::ofstream Out(Name, std::ios::binary | std::ios::trunc);
  Out.write(Bytes.data(), static_cast<std::streamsize>(Bytes.size()));
}

inline std::string GetFile(const std::string& Name) {
  std::ifstream In(Name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
}

// Forwards to the real file system and counts what is asked of it: opens,
// reads, and the questions besides (a file's size, whether a file is
// there, a path made whole).
class tCallCount : public tForwardingFileSystem {
 public:
  bool Open(std::string_view P, uint16_t M, intptr_t& H, int& E) override {
    ++Opens;
    return Real().Open(P, M, H, E);
  }
  bool OpenSized(std::string_view P, uint16_t M, intptr_t& H, int& E, int64_t& S) override {
    ++Opens;
    return Real().OpenSized(P, M, H, E, S);
  }
  int32_t Read(intptr_t H, void* B, uint32_t C) override {
    ++Reads;
    return Real().Read(H, B, C);
  }
  int64_t Size(intptr_t H) override {
    ++Sizes;
    return Real().Size(H);
  }
  bool FileExists(std::string_view P) override {
    ++Lookups;
    return Real().FileExists(P);
  }
  tShortString FullPath(std::string_view P) override {
    ++Lookups;
    return Real().FullPath(P);
  }
  int Opens = 0, Reads = 0, Sizes = 0, Lookups = 0;
};

}  // namespace kelvane::testing

#endif  // KELVANE_RUNTIME_TEST_DIR_H_
