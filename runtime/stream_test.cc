#include "runtime/stream.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "runtime/file_system.h"
#include "runtime/test_dir.h"

namespace kelvane {
namespace {

using testing::GetFile;
using testing::PutFile;
using testing::tCallCount;
using testing::tRuntimeTempDir;

std::string Pattern(size_t N, unsigned Seed = 1) {
  std::string S(N, '\0');
  for (size_t I = 0; I < N; ++I) S[I] = static_cast<char>((I * 131 + Seed * 7 + I / 251) & 0xFF);
  return S;
}

TEST(OpenMode, DecodesTheModeWord) {
  struct {
    uint16_t Mode;
    bool Valid, Create, Read, Write;
    uint8_t Share;
  } Cases[] = {
      {0x3C00, true, true, true, true, shDenyNone},
      {0x3C10, true, true, true, true, shDenyAll},
      {0x3C40, true, true, true, true, shDenyNone},
      {0x3D40, true, false, true, false, shDenyNone},
      {0x3D42, true, false, true, true, shDenyNone},
      {0x3D41, true, false, false, true, shDenyNone},
      {0x3D50, true, false, true, false, shDenyAll},
      {0x3D12, true, false, true, true, shDenyAll},
      {0x3D20, true, false, true, false, shDenyWrite},
      {0x3D30, true, false, true, false, shDenyRead},
      {0x3D43, false, false, false, false, shDenyNone},
      {0x3C00 | 0x3D40, true, false, true, false, shDenyNone},  // a create OR-ed with an open is an open
      {0x3C00 | 0x3D42, true, false, true, true, shDenyNone},
      {0x5B10, true, true, true, true, shDenyAll},  // create new
  };
  for (const auto& C : Cases) {
    tOpenMode M = DecodeOpenMode(C.Mode);
    SCOPED_TRACE(C.Mode);
    EXPECT_EQ(M.Valid, C.Valid);
    if (!C.Valid) continue;
    EXPECT_EQ(M.Create, C.Create);
    EXPECT_EQ(M.New, C.Mode >> 8 == 0x5B);
    EXPECT_EQ(M.Read, C.Read);
    EXPECT_EQ(M.Write, C.Write);
    EXPECT_EQ(M.Share, C.Share);
  }
}

TEST(BufStream, CreatesReopensAndEmpties) {
  tRuntimeTempDir Dir;
  std::string Name = Dir / "a.bin";
  {
    tBufStream S(Name, fmCreate);
    ASSERT_EQ(S.Status, stOk);
    S.WriteStr("hello, world");
    EXPECT_EQ(S.GetSize(), 12);
    EXPECT_TRUE(S.Close());
  }
  EXPECT_EQ(GetFile(Name), "hello, world");
  {
    tBufStream S(Name, fmOpen | fmDenyNone | fmRead);
    char Buf[5];
    EXPECT_EQ(S.Read(Buf, 5), 5u);
    EXPECT_EQ(std::string(Buf, 5), "hello");
    EXPECT_EQ(S.GetPos(), 5);
    EXPECT_EQ(S.GetSize(), 12);
  }
  {
    tBufStream S(Name, fmCreate);  // create empties an existing file
    EXPECT_EQ(S.GetSize(), 0);
  }
  EXPECT_EQ(GetFile(Name), "");
}

TEST(BufStream, MissingFileFailsEveryOperation) {
  tRuntimeTempDir Dir;
  tBufStream S(Dir / "none.bin", fmOpen | fmDenyNone | fmReadWrite);
  EXPECT_EQ(S.Status, stInitError);
  EXPECT_FALSE(S.IsOpen());
  S.Reset();
  char Buf[4] = {1, 2, 3, 4};
  EXPECT_EQ(S.Read(Buf, 4), 0u);
  EXPECT_EQ(std::string(Buf, 4), std::string(4, '\0'));
  EXPECT_NE(S.Status, stOk);
  S.Reset();
  S.Write("x", 1);
  EXPECT_NE(S.Status, stOk);
  EXPECT_FALSE(S.Close());
  EXPECT_FALSE(testing::GetFile(Dir / "none.bin").size());
}

TEST(BufStream, StatusWordStopsReadsAndWritesUntilReset) {
  tRuntimeTempDir Dir;
  std::string Name = Dir / "s.bin";
  PutFile(Name, "abcdef");
  tBufStream S(Name, fmOpen | fmDenyNone | fmReadWrite);
  char Buf[8];
  std::memset(Buf, 'x', sizeof Buf);
  // A short read: what was there, then zeros, and the error.
  S.Seek(4);
  EXPECT_EQ(S.Read(Buf, 8), 2u);
  EXPECT_EQ(std::string(Buf, 8), std::string("ef\0\0\0\0\0\0", 8));
  EXPECT_EQ(S.Status, stReadError);
  // Until Reset nothing happens: reads give zeros, writes and seeks are lost.
  S.Seek(0);
  std::memset(Buf, 'x', sizeof Buf);
  EXPECT_EQ(S.Read(Buf, 3), 0u);
  EXPECT_EQ(std::string(Buf, 3), std::string(3, '\0'));
  S.Write("ZZ", 2);
  S.Reset();
  EXPECT_TRUE(S.Close());
  EXPECT_EQ(GetFile(Name), "abcdef");
}

TEST(BufStream, WriteToReadOnlyStreamFailsAndLeavesTheFile) {
  tRuntimeTempDir Dir;
  std::string Name = Dir / "r.bin";
  PutFile(Name, "keep");
  tBufStream S(Name, fmOpen | fmDenyNone | fmRead);
  S.Write("gone", 4);
  EXPECT_EQ(S.Status, stWriteError);
  S.Reset();
  S.Truncate();
  EXPECT_EQ(S.Status, stWriteError);
  S.Reset();
  EXPECT_TRUE(S.Close());
  EXPECT_EQ(GetFile(Name), "keep");
}

TEST(BufStream, NegativeSeekFails) {
  tRuntimeTempDir Dir;
  tBufStream S(Dir / "n.bin", fmCreate);
  S.Seek(-1);
  EXPECT_EQ(S.Status, stSeekError);
}

TEST(BufStream, TruncatesAtThePosition) {
  tRuntimeTempDir Dir;
  std::string Name = Dir / "t.bin";
  tBufStream S(Name, fmCreate);
  std::string Data = Pattern(10000);
  S.WriteStr(Data);
  S.Seek(5000);
  S.Truncate();
  EXPECT_EQ(S.GetSize(), 5000);
  // Reading on from the cut is past the end.
  char C;
  S.Read(&C, 1);
  EXPECT_EQ(S.Status, stReadError);
  S.Reset();
  S.Seek(4990);
  S.WriteStr("0123456789ABC");
  EXPECT_TRUE(S.Close());
  EXPECT_EQ(GetFile(Name), Data.substr(0, 4990) + "0123456789ABC");
}

TEST(BufStream, SeekPastTheEndThenWriteLeavesZeros) {
  tRuntimeTempDir Dir;
  std::string Name = Dir / "g.bin";
  tBufStream S(Name, fmCreate);
  S.WriteStr("ab");
  S.Seek(6000);
  S.WriteStr("cd");
  EXPECT_EQ(S.GetSize(), 6002);
  // The gap reads as zeros through the same stream.
  S.Seek(0);
  std::string Back(6002, 'x');
  EXPECT_EQ(S.Read(Back.data(), 6002), 6002u);
  EXPECT_TRUE(S.Close());
  std::string Want = "ab" + std::string(5998, '\0') + "cd";
  EXPECT_EQ(Back, Want);
  EXPECT_EQ(GetFile(Name), Want);
}

TEST(BufStream, BufferBoundaries) {
  tRuntimeTempDir Dir;
  constexpr uint32_t B = tBufStream::BufferSize;
  for (uint32_t Size : {B - 1, B, B + 1, 2 * B - 1, 2 * B, 2 * B + 1}) {
    for (uint32_t Chunk : {1u, 7u, B - 1, B, B + 1}) {
      SCOPED_TRACE(std::to_string(Size) + " in chunks of " + std::to_string(Chunk));
      std::string Name = Dir / "b.bin";
      std::string Data = Pattern(Size, Chunk);
      {
        tBufStream S(Name, fmCreate);
        for (uint32_t I = 0; I < Size; I += Chunk) S.Write(Data.data() + I, std::min(Chunk, Size - I));
        EXPECT_EQ(S.GetSize(), Size);
        EXPECT_TRUE(S.Close());
      }
      ASSERT_EQ(GetFile(Name), Data);
      tBufStream S(Name, fmOpen | fmDenyNone | fmRead);
      std::string Back(Size, '\0');
      for (uint32_t I = 0; I < Size; I += Chunk) S.Read(Back.data() + I, std::min(Chunk, Size - I));
      EXPECT_EQ(S.Status, stOk);
      EXPECT_EQ(Back, Data);
      char C = 'x';
      EXPECT_EQ(S.Read(&C, 1), 0u);  // exactly at the end
      EXPECT_EQ(S.Status, stReadError);
    }
  }
}

// Random reads, writes, seeks and truncations against a string that models
// the file: catches a stale buffer window, a lost dirty byte or a wrong size.
TEST(BufStream, AgreesWithAModelUnderRandomOperations) {
  tRuntimeTempDir Dir;
  std::string Name = Dir / "m.bin";
  std::mt19937 Rng(12345);
  std::string Model;
  tBufStream S(Name, fmCreate);
  int64_t Pos = 0;
  for (int Step = 0; Step < 3000; ++Step) {
    int Op = static_cast<int>(Rng() % 10);
    uint32_t Len = Rng() % 3 == 0 ? Rng() % 9000 : Rng() % 300;
    if (Op < 4) {
      std::string Data = Pattern(Len, Step);
      S.WriteStr(Data);
      if (Model.size() < static_cast<size_t>(Pos) + Len) Model.resize(static_cast<size_t>(Pos) + Len, '\0');
      Model.replace(static_cast<size_t>(Pos), Len, Data);
      Pos += Len;
    } else if (Op < 7) {
      std::string Back(Len, 'x');
      uint32_t Got = S.Read(Back.data(), Len);
      size_t Avail = Pos < static_cast<int64_t>(Model.size()) ? Model.size() - Pos : 0;
      ASSERT_EQ(Got, std::min<size_t>(Avail, Len)) << Step;
      std::string Want = Model.substr(std::min<size_t>(Pos, Model.size()), Got) + std::string(Len - Got, '\0');
      ASSERT_EQ(Back, Want) << Step;
      ASSERT_EQ(S.Status, Got < Len ? stReadError : stOk) << Step;
      Pos += Got;
      S.Reset();
    } else if (Op < 9) {
      Pos = Rng() % (Model.size() + 5000);
      S.Seek(Pos);
    } else {
      S.Truncate();
      Model.resize(static_cast<size_t>(Pos), '\0');
    }
    ASSERT_EQ(S.GetPos(), Pos) << Step;
    ASSERT_EQ(S.GetSize(), static_cast<int64_t>(Model.size())) << Step;
  }
  EXPECT_TRUE(S.Close());
  EXPECT_EQ(GetFile(Name), Model);
}

TEST(BufStream, WritesBackOnlyTheBytesItChanged) {
  // Two shared writers of one file, each touching its own record: neither
  // may put back an old copy of the other's bytes from its buffer.
  tRuntimeTempDir Dir;
  std::string Name = Dir / "shared.bin";
  PutFile(Name, std::string(100, '.'));
  tBufStream A(Name, fmOpen | fmDenyNone | fmReadWrite);
  tBufStream B(Name, fmOpen | fmDenyNone | fmReadWrite);
  char Buf[100];
  A.Read(Buf, 100);  // A's buffer now holds the whole file
  B.Seek(10);
  B.WriteStr("BB");
  EXPECT_TRUE(B.Close());
  A.Seek(20);
  A.WriteStr("AA");
  EXPECT_TRUE(A.Close());
  std::string Want(100, '.');
  Want.replace(10, 2, "BB");
  Want.replace(20, 2, "AA");
  EXPECT_EQ(GetFile(Name), Want);
}

TEST(BufStream, CopyFrom) {
  tRuntimeTempDir Dir;
  std::string Data = Pattern(10000);
  PutFile(Dir / "src.bin", Data);
  tBufStream Src(Dir / "src.bin", fmOpen | fmDenyNone | fmRead);
  tMemoryStream Mem;
  Src.Seek(100);
  Mem.CopyFrom(Src, 9000);
  EXPECT_EQ(Mem.View(), Data.substr(100, 9000));
  tBufStream Dst(Dir / "dst.bin", fmCreate);
  Dst.WriteStr("head");
  Mem.Seek(0);
  Dst.CopyFrom(Mem, Mem.GetSize());
  EXPECT_TRUE(Dst.Close());
  EXPECT_EQ(GetFile(Dir / "dst.bin"), "head" + Data.substr(100, 9000));
  // Asking for more than the source holds copies what is there and sets
  // the source's status; an absurd count does not run on.
  Src.Seek(9990);
  tMemoryStream Tail;
  Tail.CopyFrom(Src, int64_t(1) << 40);
  EXPECT_EQ(Tail.View(), Data.substr(9990));
  EXPECT_EQ(Src.Status, stReadError);
}

// Forwards to the real file system and fails the chosen calls.
class tFailingFileSystem : public tForwardingFileSystem {
 public:
  int32_t Write(intptr_t H, const void* B, uint32_t C) override {
    if (FailWrites) return -1;
    return Real().Write(H, B, C);
  }
  bool Sync(intptr_t H) override { return !FailSync && Real().Sync(H); }
  bool Close(intptr_t H) override { return Real().Close(H) && !FailClose; }
  bool FailWrites = false, FailSync = false, FailClose = false;
};

class tInstall {
 public:
  explicit tInstall(tFileSystem& Fs) { SetFileSystem(&Fs); }
  ~tInstall() { SetFileSystem(nullptr); }
};

TEST(BufStream, FailuresOfTheSystemReachTheCaller) {
  tRuntimeTempDir Dir;
  tFailingFileSystem Fs;
  tInstall Scope(Fs);
  {
    // A buffered write that the system refuses at close: Close says so.
    tBufStream S(Dir / "full.bin", fmCreate);
    S.WriteStr("data");
    EXPECT_EQ(S.Status, stOk);
    Fs.FailWrites = true;
    EXPECT_FALSE(S.Close());
    EXPECT_EQ(S.Status, stWriteError);
    Fs.FailWrites = false;
  }
  {
    // A refused write found by a seek stays in the status, and Close
    // reports it even though the close itself went well.
    tBufStream S(Dir / "seek.bin", fmCreate);
    S.WriteStr("data");
    Fs.FailWrites = true;
    S.Seek(0);
    EXPECT_EQ(S.Status, stWriteError);
    Fs.FailWrites = false;
    EXPECT_FALSE(S.Close());
  }
  {
    tBufStream S(Dir / "large.bin", fmCreate);
    Fs.FailWrites = true;
    S.WriteStr(Pattern(20000));  // straight to the system, past the buffer
    EXPECT_EQ(S.Status, stWriteError);
    Fs.FailWrites = false;
  }
  {
    tBufStream S(Dir / "sync.bin", fmCreate);
    S.WriteStr("data");
    Fs.FailSync = true;
    S.Flush(true);
    EXPECT_EQ(S.Status, stWriteError);
    Fs.FailSync = false;
  }
  {
    tBufStream S(Dir / "close.bin", fmCreate);
    Fs.FailClose = true;
    EXPECT_FALSE(S.Close());
    Fs.FailClose = false;
  }
}


// A file's size is asked once, when it is opened, and again only on
// Refresh: our own writes keep it, another program's show after a
// Refresh. A file shorter than the buffer is read in one call.
TEST(BufStream, TheSizeIsAskedAtTheOpenAndOnRefresh) {
  tRuntimeTempDir Dir;
  PutFile(Dir / "a.bin", Pattern(1000));
  tCallCount Fs;
  tInstall Scope(Fs);
  tBufStream In(Dir / "a.bin", fmOpen | fmRead | fmDenyNone);
  tBufStream Out(Dir / "a.bin", fmOpen | fmReadWrite | fmDenyNone);
  EXPECT_EQ(Fs.Opens, 2);  // each open learns the size
  EXPECT_EQ(Fs.Sizes, 0);
  std::string Buf(1000, '\0');
  EXPECT_EQ(In.Read(Buf.data(), 1000), 1000u);
  EXPECT_EQ(Buf, Pattern(1000));
  EXPECT_EQ(Fs.Reads, 1);
  Out.Seek(1000);
  Out.WriteStr("more");
  EXPECT_EQ(Out.GetSize(), 1004);
  EXPECT_EQ(In.GetSize(), 1000);
  EXPECT_EQ(Fs.Sizes, 0);
  {
    tBufStream Other(Dir / "a.bin", fmOpen | fmReadWrite | fmDenyNone);
    Other.Seek(1004);
    Other.WriteStr("added");
  }
  EXPECT_EQ(Out.GetSize(), 1004);
  Out.Refresh();
  In.Refresh();
  EXPECT_EQ(Out.GetSize(), 1009);
  EXPECT_EQ(In.GetSize(), 1009);
  EXPECT_EQ(Fs.Sizes, 2);
}

TEST(Sharing, DenyNoneAndExclusiveRefuseEachOther) {
  tRuntimeTempDir Dir;
  std::string Name = Dir / "cfg.bin";
  PutFile(Name, "config");
  {
    tBufStream Shared(Name, fmOpen | fmDenyNone | fmRead);
    ASSERT_EQ(Shared.Status, stOk);
    tBufStream Other(Name, fmOpen | fmDenyNone | fmReadWrite);
    EXPECT_EQ(Other.Status, stOk);  // shared opens live side by side
    tBufStream Excl(Name, fmOpen | fmDenyAll | fmReadWrite);
    EXPECT_EQ(Excl.Status, stInitError);
    // Creating (emptying) a file that others hold fails without emptying it.
    tBufStream Create(Name, fmCreate | fmDenyAll);
    EXPECT_EQ(Create.Status, stInitError);
  }
  {
    tBufStream Excl(Name, fmOpen | 0x50 | fmRead);
    ASSERT_EQ(Excl.Status, stOk);
    tBufStream Shared(Name, fmOpen | fmDenyNone | fmRead);
    EXPECT_EQ(Shared.Status, stInitError);
    tBufStream Create(Name, fmCreate);
    EXPECT_EQ(Create.Status, stInitError);
  }
  EXPECT_EQ(GetFile(Name), "config");
  // Released at close: the exclusive open now succeeds.
  tBufStream Excl(Name, fmOpen | fmDenyAll | fmReadWrite);
  EXPECT_EQ(Excl.Status, stOk);
}

TEST(MemoryStream, GrowsReadsBackAndCuts) {
  tMemoryStream M;
  std::string Data = Pattern(10000);
  for (size_t I = 0; I < Data.size(); I += 333) M.WriteStr(std::string_view(Data).substr(I, 333));
  EXPECT_EQ(M.GetSize(), 10000);
  EXPECT_EQ(M.View(), Data);
  M.Seek(4096);
  std::string Back(10, 'x');
  EXPECT_EQ(M.Read(Back.data(), 10), 10u);
  EXPECT_EQ(Back, Data.substr(4096, 10));
  M.Seek(9995);
  EXPECT_EQ(M.Read(Back.data(), 10), 5u);
  EXPECT_EQ(Back, Data.substr(9995) + std::string(5, '\0'));
  EXPECT_EQ(M.Status, stReadError);
  M.Write("lost", 4);  // not until Reset
  EXPECT_EQ(M.GetSize(), 10000);
  M.Reset();
  M.Seek(100);
  M.Truncate();
  EXPECT_EQ(M.View(), Data.substr(0, 100));
  // Past the cut, a write after a seek finds zeros in the gap, not the old
  // bytes still in the buffer.
  M.Seek(200);
  M.WriteStr("z");
  EXPECT_EQ(M.View(), Data.substr(0, 100) + std::string(100, '\0') + "z");
  M.Seek(300);
  M.Truncate();  // a cut past the end extends with zeros
  EXPECT_EQ(M.GetSize(), 300);
  EXPECT_EQ(M.View().substr(201), std::string(99, '\0'));
}

TEST(MemoryStream, ClearStartsAfresh) {
  tMemoryStream M;
  M.WriteStr("abc");
  char C;
  M.Read(&C, 1);
  ASSERT_EQ(M.Status, stReadError);
  M.Clear();
  EXPECT_EQ(M.Status, stOk);
  EXPECT_EQ(M.GetSize(), 0);
  EXPECT_EQ(M.GetPos(), 0);
  M.WriteStr("x");
  EXPECT_EQ(M.View(), "x");
}

TEST(MemoryStream, AbsurdPositionFailsCleanly) {
  tMemoryStream M;
  M.Seek(int64_t(1) << 40);
  M.WriteStr("x");
  EXPECT_EQ(M.Status, stWriteError);
  EXPECT_EQ(M.GetSize(), 0);
  M.Reset();
  M.Seek(0xFFFFFFF0LL);
  M.Truncate();
  EXPECT_EQ(M.Status, stWriteError);
  M.Reset();
  M.Seek(-5);
  EXPECT_EQ(M.Status, stSeekError);
}

}  // namespace
}  // namespace kelvane
