// Test support for the message-base tests, beside the temporary directory
// and file helpers of runtime/test_dir.h: a file system that watches and
// can refuse what the library does to the disk, a stream whose reads fail,
// a message with every kind of field and line, a description of every field
// a read fills, and a clock that stands still, so that "now" is a known
// moment.
#ifndef KELVANE_MSGBASE_TEST_FS_H_
#define KELVANE_MSGBASE_TEST_FS_H_

#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "msgbase/address.h"
#include "msgbase/message.h"
#include "runtime/clock.h"
#include "runtime/file_system.h"
#include "runtime/stream.h"
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

// The entries of a line list, for comparing with a list of strings.
inline std::vector<std::string> Lines(const tStringList& L) {
  std::vector<std::string> Out;
  for (const tShortString& S : L) Out.push_back(S.ToStdString());
  return Out;
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
  bool RemoveAll(const std::vector<tShortString>& Paths, int Locked) override {
    ++Changes;
    return Real().RemoveAll(Paths, Locked);
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

// A memory stream whose reads fail from a given position on, zero-filling
// what they could not read.
class tFailingStream : public tMemoryStream {
 public:
  explicit tFailingStream(int64_t FailAt) : FailAt_(FailAt) {}
  uint32_t Read(void* Buf, uint32_t Count) override {
    if (GetPos() + Count > FailAt_) {
      Error(stReadError, 0);
      std::memset(Buf, 0, Count);
      return 0;
    }
    return tMemoryStream::Read(Buf, Count);
  }

 private:
  int64_t FailAt_;
};

// A netmail message with a point on both sides and every kind of line.
inline void FillNetmail(tMessage& M) {
  M.Clear();
  M.From = "Ivan Petrov";
  M.To = "Test Sysop";
  M.Subject = "\x8f\xe0\xa8\xa2\xa5\xe2 subject";  // cp866 bytes pass unchanged
  M.DateWritten = tDateTime{2026, 12, 7, 19, 5, 8};
  M.OrigZone = 2, M.OrigNet = 5020, M.OrigNode = 2, M.OrigPoint = 7;
  M.DestZone = 2, M.DestNet = 5020, M.DestNode = 1, M.DestPoint = 3;
  M.Intl = "2:5020/1 2:5020/2";
  M.MsgId = "2:5020/2.7 12345678";
  M.ReplyId = "2:5020/1.3 87654321";
  M.Pid = "kelvane 1";
  M.Tid = "tosser 2";
  M.Kludges.Append("\x01" "CHRS: CP866 2");
  M.Kludges.Append("\x01" "TZUTC: 0300");
  M.Text.WriteStr("First line\r\rThird line\r");
  M.TearLine = " kelvane";
  M.AddTearLine = 1;
  M.Origin = "Test Station ";
  M.AddOrigin = 1;
  M.SeenByLines.Append("5020/1 2");
  M.PathLines.Append("5020/2");
  M.PathLines.Append("5020/1");
  M.RouteLines.Append("\x01" "Via 2:5020/1 @20261207.190508 kelvane");
  M.AttrFlags[0] = 1;  // Pvt
  M.AttrFlags[7] = 1;  // K/s
  M.ExtFlags[efDirect] = 1;
  M.ExtFlags[efImmediate] = 1;
  M.TimesRead = 3;
  M.Replies[1] = 12;
}

// Installed for the life of the object: a clock standing at 2031-05-04
// 03:02:01.55, which never sleeps.
class tFixedClock : public tClock {
 public:
  tFixedClock() {
    Time.Year = 2031, Time.Month = 5, Time.Day = 4, Time.Hour = 3, Time.Min = 2, Time.Sec = 1, Time.Hundredths = 55;
    SetClock(this);
  }
  ~tFixedClock() override { SetClock(nullptr); }
  uint32_t Ticks() override { return 0; }
  tLocalTime Now() override { return Time; }
  void Sleep(uint32_t) override {}
  tLocalTime Time;
};

}  // namespace kelvane::testing

#endif  // KELVANE_MSGBASE_TEST_FS_H_
