// The stream types: the status-word discipline shared by all streams, the
// buffered file stream over the current tFileSystem, and the memory stream.
#include "runtime/stream.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

#include "runtime/file_system.h"

namespace kelvane {

tStream::~tStream() = default;

void tStream::Flush(bool) {}

void tStream::CopyFrom(tStream& Source, int64_t Count) {
  // Through a stack buffer: copying never holds more than one block, and an
  // absurd count ends at the first failed read instead of running on.
  uint8_t Block[4096];
  while (Count > 0 && Status == stOk && Source.Status == stOk) {
    uint32_t N = Count < static_cast<int64_t>(sizeof Block) ? static_cast<uint32_t>(Count) : sizeof Block;
    uint32_t Got = Source.Read(Block, N);
    if (Got) Write(Block, Got);
    if (Got < N) break;
    Count -= N;
  }
}

// ---------------------------------------------------------------------------
// tBufStream
//
// The buffer is a window onto the file: Buffer_[0..BufLen_) holds the bytes
// at BufStart_.. as read, or as written and not yet handed to the system
// (the range DirtyLo_..DirtyHi_). Writes extend the window only at its end,
// so every byte in it is valid. Only the bytes the caller wrote are written
// back, never the bytes around them, so a shared file is not overwritten
// with an old copy of a neighbour's record.

tBufStream::tBufStream(std::string_view Path, uint16_t Mode) : Fs_(&FileSystem()), Mode_(Mode) {
  tOpenMode M = DecodeOpenMode(Mode);
  int Err = 0;
  intptr_t H = -1;
  int64_t S = -1;
  if (!M.Valid || !Fs_->OpenSized(Path, Mode, H, Err, S)) {
    Error(stInitError, M.Valid ? Err : 1);
    return;
  }
  Handle_ = H;
  CanRead_ = M.Read;
  CanWrite_ = M.Write;
  // The size the open learnt; asked again at the first GetSize when it
  // could not tell.
  Size_ = S > 0 ? S : 0;
  SizeKnown_ = S >= 0;
  Buffer_.resize(BufferSize);
}

tBufStream::~tBufStream() {
  if (IsOpen()) Close();
}

// Every read and write names its position (ReadAt, WriteAt): where the
// system can, a seek and a transfer are one call.
bool tBufStream::ReadOs(int64_t Pos, uint8_t* Buf, uint32_t Count, uint32_t& Got) {
  Got = 0;
  while (Got < Count) {
    uint32_t Asked = Count - Got;
    int32_t N = Fs_->ReadAt(Handle_, Pos + Got, Buf + Got, Asked);
    if (N < 0) return false;
    Got += static_cast<uint32_t>(N);
    // A file gives less than was asked for only at its end: asking again
    // would cost a call that gives nothing.
    if (static_cast<uint32_t>(N) < Asked) break;
  }
  return true;
}

bool tBufStream::WriteOs(int64_t Pos, const uint8_t* Buf, uint32_t Count) {
  uint32_t Done = 0;
  while (Done < Count) {
    int32_t N = Fs_->WriteAt(Handle_, Pos + Done, Buf + Done, Count - Done);
    if (N <= 0) return false;
    Done += static_cast<uint32_t>(N);
  }
  return true;
}

bool tBufStream::FlushWrites() {
  if (!BufDirty_) return true;
  // Whatever happens, the bytes leave the buffer: a failed write is reported
  // once through the status word, not retried behind the caller's back.
  BufDirty_ = false;
  if (!WriteOs(BufStart_ + DirtyLo_, Buffer_.data() + DirtyLo_, DirtyHi_ - DirtyLo_)) {
    Error(stWriteError, 0);
    BufLen_ = 0;
    return false;
  }
  return true;
}

uint32_t tBufStream::Read(void* Buf, uint32_t Count) {
  uint8_t* Out = static_cast<uint8_t*>(Buf);
  uint32_t Done = 0;
  if (Status == stOk && (!IsOpen() || !CanRead_)) Error(stReadError, 0);
  if (Status == stOk) FlushWrites();
  while (Status == stOk && Done < Count) {
    int64_t End = BufStart_ + BufLen_;
    if (Pos_ >= BufStart_ && Pos_ < End) {
      uint32_t N = static_cast<uint32_t>(std::min<int64_t>(End - Pos_, Count - Done));
      std::memcpy(Out + Done, Buffer_.data() + (Pos_ - BufStart_), N);
      Done += N;
      Pos_ += N;
      continue;
    }
    uint32_t Want = Count - Done;
    if (Want >= BufferSize) {
      // A large read goes straight to the caller's memory.
      uint32_t Got;
      bool Ok = ReadOs(Pos_, Out + Done, Want, Got);
      Done += Got;
      Pos_ += Got;
      if (!Ok || Got < Want) Error(stReadError, 0);
      break;
    }
    BufStart_ = Pos_;
    BufLen_ = 0;
    uint32_t Got;
    bool Ok = ReadOs(Pos_, Buffer_.data(), BufferSize, Got);
    BufLen_ = Got;
    if (!Ok || Got == 0) Error(stReadError, 0);
  }
  if (Done < Count) std::memset(Out + Done, 0, Count - Done);
  return Done;
}

void tBufStream::Write(const void* Buf, uint32_t Count) {
  if (Status != stOk) return;
  if (!IsOpen() || !CanWrite_) {
    Error(stWriteError, 0);
    return;
  }
  const uint8_t* In = static_cast<const uint8_t*>(Buf);
  if (Count >= BufferSize) {
    // A large write goes to the system in one call, whatever the buffer
    // holds (its bytes go first, and what it read ahead is forgotten):
    // one call is one step for a reader of the file.
    if (!FlushWrites()) return;
    BufStart_ = Pos_;
    BufLen_ = 0;
    if (!WriteOs(Pos_, In, Count)) {
      Error(stWriteError, 0);
      return;
    }
    Pos_ += Count;
    Size_ = std::max(Size_, Pos_);
    return;
  }
  while (Count > 0) {
    int64_t Off = Pos_ - BufStart_;
    if (Off < 0 || Off > BufLen_ || Off >= BufferSize) {
      if (!FlushWrites()) return;
      BufStart_ = Pos_;
      BufLen_ = 0;
      Off = 0;
    }
    uint32_t At = static_cast<uint32_t>(Off);
    uint32_t N = std::min(Count, BufferSize - At);
    std::memcpy(Buffer_.data() + At, In, N);
    if (!BufDirty_) {
      DirtyLo_ = At;
      DirtyHi_ = At + N;
      BufDirty_ = true;
    } else {
      DirtyLo_ = std::min(DirtyLo_, At);
      DirtyHi_ = std::max(DirtyHi_, At + N);
    }
    BufLen_ = std::max(BufLen_, At + N);
    Pos_ += N;
    Size_ = std::max(Size_, Pos_);
    In += N;
    Count -= N;
  }
}

void tBufStream::Seek(int64_t Pos) {
  if (Status != stOk) return;
  if (!IsOpen()) {
    Error(stSeekError, 0);
    return;
  }
  if (Pos < 0) {
    Error(stSeekError, 0);
    return;
  }
  if (!FlushWrites()) return;
  Pos_ = Pos;
}

int64_t tBufStream::GetPos() { return Pos_; }

int64_t tBufStream::GetSize() {
  if (!IsOpen()) return 0;
  if (Status == stOk) FlushWrites();
  // Asked of the system when the file opened and after a Refresh; our own
  // writes keep it since. Another writer changes a shared file only under
  // its lock, and the file is refreshed when the lock is taken.
  if (!SizeKnown_ && !BufDirty_) {
    int64_t S = Fs_->Size(Handle_);
    if (S >= 0) Size_ = S;
    SizeKnown_ = S >= 0;
  }
  return Size_;
}

void tBufStream::Truncate() {
  if (Status != stOk) return;
  if (!IsOpen() || !CanWrite_) {
    Error(stWriteError, 0);
    return;
  }
  if (!FlushWrites()) return;
  if (!Fs_->Truncate(Handle_, Pos_)) {
    Error(stWriteError, 0);
    return;
  }
  Size_ = Pos_;
  if (BufStart_ >= Pos_) {
    BufStart_ = Pos_;
    BufLen_ = 0;
  } else if (BufStart_ + BufLen_ > Pos_) {
    BufLen_ = static_cast<uint32_t>(Pos_ - BufStart_);
  }
}

void tBufStream::Flush(bool ToDisk) {
  if (!IsOpen()) return;
  if (!FlushWrites()) return;
  if (ToDisk && !Fs_->Sync(Handle_)) Error(stWriteError, 0);
}

void tBufStream::Refresh() {
  if (!IsOpen()) return;
  FlushWrites();
  BufLen_ = 0;
  SizeKnown_ = false;
}

bool tBufStream::Close() {
  if (!IsOpen()) return false;
  bool Ok = FlushWrites();
  if (!Fs_->Close(Handle_)) Ok = false;
  if (!Ok) Error(stWriteError, 0);
  Handle_ = -1;
  BufLen_ = 0;
  std::vector<uint8_t>().swap(Buffer_);
  return Ok && Status != stWriteError;
}

// ---------------------------------------------------------------------------
// tMemoryStream

// A memory stream never grows past 2 GiB: message texts and the rest of a
// file being moved stay far below it, and a position sought far out by a
// damaged length must fail, not ask the system for gigabytes of zeros.
constexpr uint64_t MemoryStreamLimit = 0x7FFFFFFF;

bool tMemoryStream::Reserve(size_t Need) {
  if (Need <= Capacity_) return true;
  if (Need > MemoryStreamLimit) return false;
  // Whole blocks, and at least half as much again as before, so a long
  // stream is not copied over and over while it grows. The new room is
  // not cleared: no byte past Size_ is ever read, and a write past the
  // end clears the gap it leaves.
  size_t Want = std::max(Need, std::min<size_t>(Capacity_ + Capacity_ / 2, MemoryStreamLimit));
  size_t Blocks = Want / BlockSize_ + (Want % BlockSize_ != 0);
  std::unique_ptr<uint8_t[]> Grown(new (std::nothrow) uint8_t[Blocks * BlockSize_]);
  if (!Grown) return false;
  if (Size_) std::memcpy(Grown.get(), Data_.get(), Size_);
  Data_ = std::move(Grown);
  Capacity_ = Blocks * BlockSize_;
  return true;
}

uint32_t tMemoryStream::Read(void* Buf, uint32_t Count) {
  uint8_t* Out = static_cast<uint8_t*>(Buf);
  uint32_t Done = 0;
  if (Status == stOk) {
    int64_t Avail = Pos_ < static_cast<int64_t>(Size_) ? static_cast<int64_t>(Size_) - Pos_ : 0;
    Done = static_cast<uint32_t>(std::min<int64_t>(Avail, Count));
    if (Done) std::memcpy(Out, Data_.get() + Pos_, Done);
    Pos_ += Done;
    if (Done < Count) Error(stReadError, 0);
  }
  if (Done < Count) std::memset(Out + Done, 0, Count - Done);
  return Done;
}

void tMemoryStream::Write(const void* Buf, uint32_t Count) {
  if (Status != stOk || Count == 0) return;
  uint64_t End = static_cast<uint64_t>(Pos_) + Count;
  if (End > MemoryStreamLimit || !Reserve(static_cast<size_t>(End))) {
    Error(stWriteError, 0);
    return;
  }
  // Bytes between the old end and a position sought past it read as zeros
  // (the capacity may still hold bytes cut off by Truncate).
  if (static_cast<size_t>(Pos_) > Size_) std::memset(Data_.get() + Size_, 0, static_cast<size_t>(Pos_) - Size_);
  std::memcpy(Data_.get() + Pos_, Buf, Count);
  Pos_ += Count;
  Size_ = std::max(Size_, static_cast<size_t>(Pos_));
}

void tMemoryStream::Seek(int64_t Pos) {
  if (Status != stOk) return;
  if (Pos < 0) {
    Error(stSeekError, 0);
    return;
  }
  Pos_ = Pos;
}

void tMemoryStream::Truncate() {
  if (Status != stOk) return;
  if (static_cast<uint64_t>(Pos_) > MemoryStreamLimit || !Reserve(static_cast<size_t>(Pos_))) {
    Error(stWriteError, 0);
    return;
  }
  if (static_cast<size_t>(Pos_) > Size_) std::memset(Data_.get() + Size_, 0, static_cast<size_t>(Pos_) - Size_);
  Size_ = static_cast<size_t>(Pos_);
}

void tMemoryStream::Clear() {
  Data_.reset();
  Capacity_ = 0;
  Size_ = 0;
  Pos_ = 0;
  Reset();
}

}  // namespace kelvane
