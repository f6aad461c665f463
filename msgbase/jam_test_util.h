// Test support for the JAM tests: bases laid out byte by byte, without the
// library's writer (so a test checks the reader against the format, not
// against ourselves), the three files of a base on disk, and a file system
// that fails one chosen write, or every write from it on, to prove that a
// failed update leaves the base as it was.
#ifndef KELVANE_MSGBASE_JAM_TEST_UTIL_H_
#define KELVANE_MSGBASE_JAM_TEST_UTIL_H_

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "msgbase/jam.h"
#include "msgbase/message.h"
#include "runtime/coding.h"
#include "runtime/file_system.h"
#include "runtime/test_dir.h"

namespace kelvane::testing {

using tJamSubfields = std::vector<std::pair<uint32_t, std::string>>;

inline uint32_t U32At(const std::string& Bytes, size_t Offset) {
  return Offset + 4 <= Bytes.size() ? GetU32(reinterpret_cast<const uint8_t*>(Bytes.data()) + Offset) : 0;
}
inline void SetU32(std::string& Bytes, size_t Offset, uint32_t V) {
  PutU32(reinterpret_cast<uint8_t*>(Bytes.data()) + Offset, V);
}

inline std::string SubfieldBytes(const tJamSubfields& Subfields) {
  std::string Out;
  for (const auto& [Id, Data] : Subfields) {
    std::string H(8, '\0');
    SetU32(H, 0, Id);
    SetU32(H, 4, static_cast<uint32_t>(Data.size()));
    Out += H + Data;
  }
  return Out;
}

// A JAM base in memory, built as the published layout says: a fixed header
// (ActiveMsgs counted), then per message a 76-byte header with its
// subfields, its text in .jdt and its index record.
class tJamImage {
 public:
  tJamImage() : Jhr(1024, '\0') {
    Jhr.replace(0, 4, std::string("JAM\0", 4));
    SetU32(Jhr, 8, 1);            // ModCounter
    SetU32(Jhr, 16, 0xFFFFFFFF);  // no password
    SetU32(Jhr, 20, 1);           // BaseMsgNum
  }

  // Appends a message; Patch may change its 76 header bytes (offsets as in
  // the format: 24 ReplyTo, 28 Reply1st, 32 ReplyNext, 52 Attribute, ...)
  // before they are stored. Returns the message's number.
  int32_t Add(const tJamSubfields& Subfields, const std::string& Text = "",
              const std::function<void(std::string&)>& Patch = {}) {
    std::string Sub = SubfieldBytes(Subfields);
    std::string H(76, '\0');
    H.replace(0, 4, std::string("JAM\0", 4));
    H[4] = 1;  // revision 1
    SetU32(H, 8, static_cast<uint32_t>(Sub.size()));
    SetU32(H, 36, 1700000000);  // 2023-11-14 22:13:20
    SetU32(H, 48, static_cast<uint32_t>(Jdx.size() / 8 + 1));
    SetU32(H, 52, 0x02000000);  // netmail
    SetU32(H, 60, static_cast<uint32_t>(Jdt.size()));
    SetU32(H, 64, static_cast<uint32_t>(Text.size()));
    SetU32(H, 68, 0xFFFFFFFF);
    if (Patch) Patch(H);
    std::string Rec(8, '\0');
    SetU32(Rec, 0, 0xFFFFFFFF);
    SetU32(Rec, 4, static_cast<uint32_t>(Jhr.size()));
    Offsets.push_back(Jhr.size());
    Jhr += H + Sub;
    Jdt += Text;
    Jdx += Rec;
    SetU32(Jhr, 12, U32At(Jhr, 12) + 1);
    return static_cast<int32_t>(Jdx.size() / 8);
  }

  std::string Jhr, Jdt, Jdx;
  std::vector<size_t> Offsets;  // header offset of message N at [N - 1]
};

// Every operation that only reads, on every number from -1 to Count + 1:
// Exists, ReadMessage (Seen(N, Failed, Msg) after it), ReadHeader,
// ReadThread, ReadRaw and the link getters. A successful read must leave
// the message in the read state.
template <class F>
void ReadEveryWay(tJamBase& Base, F&& Seen) {
  tMessage M;
  for (int32_t N = -1; N <= Base.Count + 1; ++N) {
    Base.Exists(N);
    bool Failed = Base.ReadMessage(N, &M);
    if (!Failed && M.State != msRead) std::abort();
    Seen(N, Failed, M);
    Base.ReadHeader(N, &M);
    Base.ReadThread(N, &M);
    tJamRawMessage Raw;
    Base.ReadRaw(N, Raw);
    Base.GetReplyTo(N);
    Base.GetReply1st(N);
    Base.GetReplyNext(N);
  }
}

// The three main files of the JAM base at Path (no extension).
struct tJamFiles {
  std::string Jhr, Jdt, Jdx;
  bool operator==(const tJamFiles& O) const { return Jhr == O.Jhr && Jdt == O.Jdt && Jdx == O.Jdx; }
};
inline tJamFiles ReadJamFiles(const std::string& Path) {
  return {GetFile(Path + ".jhr"), GetFile(Path + ".jdt"), GetFile(Path + ".jdx")};
}
inline void WriteJamFiles(const std::string& Path, const tJamFiles& F) {
  PutFile(Path + ".jhr", F.Jhr);
  PutFile(Path + ".jdt", F.Jdt);
  PutFile(Path + ".jdx", F.Jdx);
}

// Fails the system write calls numbered FailAt (from 0) on: only that one,
// or every one from it on when Sticky. Writes counts the calls seen.
class tNthWriteFails : public tForwardingFileSystem {
 public:
  tNthWriteFails(int FailAt, bool Sticky) : FailAt_(FailAt), Sticky_(Sticky) {}
  int32_t Write(intptr_t H, const void* B, uint32_t C) override {
    int Call = Writes++;
    if (Call == FailAt_ || (Sticky_ && Call > FailAt_)) {
      ++Failed;
      return -1;
    }
    return Real().Write(H, B, C);
  }
  int Writes = 0;
  int Failed = 0;

 private:
  int FailAt_;
  bool Sticky_;
};

}  // namespace kelvane::testing

#endif  // KELVANE_MSGBASE_JAM_TEST_UTIL_H_
