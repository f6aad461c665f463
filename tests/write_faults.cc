// Loaded into a program with LD_PRELOAD, makes the file layer's writes go
// as on a slow or failing disk:
//  - SLOW_WRITES_US: every write to a regular file (pwrite, as the file
//    layer writes, and ftruncate) waits a while first (up to that many
//    microseconds, at random), so that a test that kills the program at a
//    random moment kills it between two writes of a change, where a crash
//    really falls, rather than in the reading and parsing around them.
//    Writes to pipes and terminals go at once. A rename waits as well, so
//    that a kill falls between the renames that put new files in place.
//  - FAIL_FOLDER_SYNC: every fsync of a folder fails with EIO, as on a
//    disk that fails after a rename was made.
#include <dlfcn.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {

long MaxPause() {
  static const long Max = [] {
    const char* V = std::getenv("SLOW_WRITES_US");
    return V ? std::atol(V) : 0L;
  }();
  return Max;
}

void Pause(int Fd) {
  struct stat St;
  if (MaxPause() > 0 && (Fd < 0 || (fstat(Fd, &St) == 0 && S_ISREG(St.st_mode))))
    usleep(static_cast<useconds_t>(std::rand() % MaxPause()));
}

template <class F>
F Next(const char* Name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, Name));
}

}  // namespace

extern "C" {

ssize_t pwrite(int Fd, const void* Buf, size_t Count, off_t At) {
  static auto Real = Next<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
  Pause(Fd);
  return Real(Fd, Buf, Count, At);
}

int ftruncate(int Fd, off_t Length) {
  static auto Real = Next<int (*)(int, off_t)>("ftruncate");
  Pause(Fd);
  return Real(Fd, Length);
}

int rename(const char* From, const char* To) {
  static auto Real = Next<int (*)(const char*, const char*)>("rename");
  Pause(-1);
  return Real(From, To);
}

int fsync(int Fd) {
  static auto Real = Next<int (*)(int)>("fsync");
  static const bool FailFolders = std::getenv("FAIL_FOLDER_SYNC") != nullptr;
  struct stat St;
  if (FailFolders && fstat(Fd, &St) == 0 && S_ISDIR(St.st_mode)) {
    errno = EIO;
    return -1;
  }
  return Real(Fd);
}

}  // extern "C"
