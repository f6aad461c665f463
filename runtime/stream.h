// Streams in the manner of the MS-DOS file functions. A stream carries a
// status word: 0 while all is well; an operation that fails sets it, and from
// then on reads yield zeros and writes do nothing until the caller clears it
// with Reset(). Callers test the status after a run of operations instead of
// after each call, as the formats do.
//
// tBufStream is a file behind a 16 KiB buffer, opened with a mode word:
//   high byte 0x3C  create the file (or empty it), open for reading and
//                   writing; sharing from the low byte (0x00 and 0x40 shared)
//   high byte 0x3D  open an existing file; low byte = access | sharing
//   high byte 0x5B  create a new file, failing when the name exists (a link
//                   too: the new file is never made through one)
//   access  0 read, 1 write, 2 read and write
//   sharing 0x40 deny none, 0x10 or 0x50 exclusive, 0x20 deny write,
//           0x30 deny read
// Modes are OR-ed with a caller's mode as plain bits (0x3C00 | 0x3D40 opens
// an existing file for reading). Sharing is enforced between processes as
// Windows does it; on POSIX through advisory locks (see file_system.h).
//
// tMemoryStream holds its bytes on the heap and grows in 4096-byte blocks.
#ifndef KELVANE_RUNTIME_STREAM_H_
#define KELVANE_RUNTIME_STREAM_H_

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace kelvane {

enum : int {
  stOk = 0,
  stError = -1,       // access error
  stInitError = -2,   // the file could not be opened or created
  stReadError = -3,   // read past the end, or the system refused a read
  stWriteError = -4,  // the system refused a write (also on a read-only stream)
  stSeekError = -5,   // a seek outside what the stream can reach
};

constexpr uint16_t fmCreate = 0x3C00;
constexpr uint16_t fmOpen = 0x3D00;
constexpr uint16_t fmCreateNew = 0x5B00;
constexpr uint16_t fmRead = 0x00;
constexpr uint16_t fmWrite = 0x01;
constexpr uint16_t fmReadWrite = 0x02;
constexpr uint16_t fmDenyAll = 0x10;
constexpr uint16_t fmDenyWrite = 0x20;
constexpr uint16_t fmDenyRead = 0x30;
constexpr uint16_t fmDenyNone = 0x40;

class tStream {
 public:
  virtual ~tStream();

  // Reads Count bytes. A read that cannot be satisfied whole sets
  // stReadError and zero-fills the part of Buf that was not read. Returns
  // the number of bytes actually read.
  virtual uint32_t Read(void* Buf, uint32_t Count) = 0;
  // Writes Count bytes at the position; sets stWriteError when it cannot.
  virtual void Write(const void* Buf, uint32_t Count) = 0;
  // Moves the position; a negative position sets stSeekError. A position
  // past the end is allowed (a later write extends the stream).
  virtual void Seek(int64_t Pos) = 0;
  virtual int64_t GetPos() = 0;
  virtual int64_t GetSize() = 0;
  // Cuts the stream at the current position.
  virtual void Truncate() = 0;
  // Hands buffered bytes to the system. For files, Flush(true) also asks the
  // system to put them on the disk before returning.
  virtual void Flush(bool ToDisk = false);
  // Forgets what was read ahead and the size, so that the next read asks
  // the file again: another program may have written it since (its lock
  // taken, see file_lock.h). Nothing to forget in memory.
  virtual void Refresh() {}

  // Copies Count bytes from Source's position to this stream's position.
  void CopyFrom(tStream& Source, int64_t Count);
  // Writes a string's bytes (no terminator).
  void WriteStr(std::string_view Text) { Write(Text.data(), static_cast<uint32_t>(Text.size())); }

  // Clears the status word.
  void Reset() {
    Status = stOk;
    ErrorInfo = 0;
  }
  // Sets the status word unless an earlier error is still pending.
  void Error(int Code, int Info) {
    if (Status == stOk) {
      Status = Code;
      ErrorInfo = Info;
    }
  }

  int Status = stOk;
  int ErrorInfo = 0;  // the system's error code, when there is one
};

class tFileSystem;

class tBufStream : public tStream {
 public:
  static constexpr uint32_t BufferSize = 16384;

  // Opens Path with the mode word. On failure Status is stInitError and
  // every later operation fails.
  tBufStream(std::string_view Path, uint16_t Mode);
  ~tBufStream() override;  // flushes and closes

  uint32_t Read(void* Buf, uint32_t Count) override;
  void Write(const void* Buf, uint32_t Count) override;
  void Seek(int64_t Pos) override;
  int64_t GetPos() override;
  // The size the system gave when the file opened or after Refresh, kept
  // up to date by the stream's own writes.
  int64_t GetSize() override;
  void Truncate() override;
  void Flush(bool ToDisk = false) override;

  // Flushes and closes the file now; returns false when the final flush or
  // the close failed, or when a write error is still pending in the status
  // word (the file does not hold what was written). A stream that never
  // opened returns false too. The stream is unusable afterwards.
  bool Close();
  bool IsOpen() const { return Handle_ >= 0; }
  uint16_t Mode() const { return Mode_; }
  // The system's handle of the file and the file system it came from (for
  // a tFileLock on the file); -1 when it is not open.
  intptr_t Handle() const { return Handle_; }
  tFileSystem* FileSystemOf() const { return Fs_; }
  // The bytes read ahead and the size are forgotten: GetSize asks the
  // system again.
  void Refresh() override;

 private:
  bool FlushWrites();
  bool ReadOs(int64_t Pos, uint8_t* Buf, uint32_t Count, uint32_t& Got);
  bool WriteOs(int64_t Pos, const uint8_t* Buf, uint32_t Count);
  tFileSystem* Fs_;
  intptr_t Handle_ = -1;
  uint16_t Mode_;
  bool CanRead_ = false;
  bool CanWrite_ = false;
  int64_t Pos_ = 0;        // logical position
  int64_t BufStart_ = 0;   // file offset of Buffer_[0]
  uint32_t BufLen_ = 0;    // valid bytes in Buffer_
  bool BufDirty_ = false;  // Buffer_[DirtyLo_..DirtyHi_) holds unwritten bytes
  uint32_t DirtyLo_ = 0;
  uint32_t DirtyHi_ = 0;
  int64_t Size_ = 0;       // file size including buffered writes
  bool SizeKnown_ = true;  // Size_ is the system's figure and our writes since
  std::vector<uint8_t> Buffer_;
};

class tMemoryStream : public tStream {
 public:
  static constexpr uint32_t DefaultBlockSize = 4096;
  explicit tMemoryStream(uint32_t BlockSize = DefaultBlockSize) : BlockSize_(BlockSize) {}

  uint32_t Read(void* Buf, uint32_t Count) override;
  void Write(const void* Buf, uint32_t Count) override;
  void Seek(int64_t Pos) override;
  int64_t GetPos() override { return Pos_; }
  int64_t GetSize() override { return static_cast<int64_t>(Size_); }
  void Truncate() override;

  // Direct access to the bytes [0, GetSize()).
  const uint8_t* Bytes() const { return Data_.get(); }
  std::string_view View() const { return std::string_view(reinterpret_cast<const char*>(Data_.get()), Size_); }
  // Empties the stream (position 0, size 0), releases its memory and
  // clears the status word: a cleared stream starts afresh.
  void Clear();

 private:
  bool Reserve(size_t Need);  // false when the memory cannot be had
  uint32_t BlockSize_;
  std::unique_ptr<uint8_t[]> Data_;  // Capacity_ bytes, the first Size_ in use
  size_t Capacity_ = 0;
  size_t Size_ = 0;
  int64_t Pos_ = 0;
};

}  // namespace kelvane

#endif  // KELVANE_RUNTIME_STREAM_H_
