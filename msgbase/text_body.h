// A message's stored text reached where it lies, in the base's file, one
// block of memory at a time: a text of a gigabyte costs no more memory
// than one of a line.
//
// tTextWindow shows the bytes [From, To) of a stream through one block,
// moved along the text as it is read forwards or backwards. ReadText lays
// out the text through it (where the body begins, which stretch at the
// tail the control lines take), and tTextBody hands out the body that
// layout leaves: into Msg->Text for an ordinary read, piece by piece or
// line by line for a caller that walks a long text as it goes (StreamBody,
// msgbase.h).
#ifndef KELVANE_MSGBASE_TEXT_BODY_H_
#define KELVANE_MSGBASE_TEXT_BODY_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "runtime/short_string.h"

namespace kelvane {

class tStream;

class tTextWindow {
 public:
  // 64 KiB. Tests set a smaller block (of 256 bytes at least: a line and
  // its break fit) to make the window move often.
  static size_t BlockSize;

  // The bytes [From, To) of S, through Buffer (grown to one block at
  // most); S and Buffer must outlive the window.
  tTextWindow(tStream& S, int64_t From, int64_t To, std::vector<uint8_t>& Buffer);

  size_t Size() const { return Size_; }
  // Byte I (< Size()); 0 where the file cannot be read.
  uint8_t operator[](size_t I) { return I - Start_ < Len_ ? Buf_[I - Start_] : Load(I, true); }
  // The bytes [I, I + N) when N <= BlockSize and I + N <= Size(); fewer
  // only where the file cannot be read.
  std::string_view Piece(size_t I, size_t N);
  // The text ends at its first NUL, or where the file can no longer be
  // read: Size() becomes that end, which is returned.
  size_t CutAtNul();
  // The first CR, LF or NUL in [Pos, Limit); Limit when there is none.
  // (Below CutAtNul's end a NUL is no longer there to find.)
  size_t FindBreak(size_t Pos, size_t Limit);
  // Where the line that ends at Pos begins: just after the last CR or LF
  // below Pos, or 0.
  size_t LineBegin(size_t Pos);

 private:
  // Moves the block so that it holds I: starting at I going forwards,
  // ending at I going backwards. Returns byte I.
  uint8_t Load(size_t I, bool Forwards);
  tStream& S_;
  int64_t From_;
  size_t Size_;
  std::vector<uint8_t>& Buf_;
  size_t Start_ = 0;  // text offset of Buf_[0]
  size_t Len_ = 0;    // valid bytes in Buf_
};

// How a text divides (offsets into it): it ends at Limit (its first NUL);
// before HeadEnd only the line breaks of its empty lines belong to the
// body (its other lines there are control lines); [CutFrom, CutTo) are the
// control lines at the tail. The rest is the body.
struct tTextLayout {
  size_t Limit = 0;
  size_t HeadEnd = 0;
  size_t CutFrom = 0;
  size_t CutTo = 0;
};

class tTextBody {
 public:
  // The body of the text [From, From + Layout.Limit) of S laid out as
  // Layout, read through a window of its own.
  tTextBody(tStream& S, int64_t From, const tTextLayout& Layout);
  // The same through Window (the one the text was laid out through, its
  // block as it is).
  tTextBody(const tTextWindow& Window, const tTextLayout& Layout);
  tTextBody(const tTextBody&) = delete;
  tTextBody& operator=(const tTextBody&) = delete;
  ~tTextBody();

  // The stream the body is read from, kept open for as long as the body
  // (a *.MSG file read with StreamBody).
  void Keep(std::unique_ptr<tStream> Stream);

  // The next stretch of the body, empty at its end. Valid until the next
  // call.
  std::string_view Next();
  // The next line of the body: the bytes before the next CR or LF (the
  // first 255 kept, the rest passed over); the break goes with it, and so
  // does the other of CR and LF right after it. A last line with no break
  // counts too. False at the end of the body.
  bool ReadLine(tShortString& Line);

 private:
  std::vector<uint8_t> Own_;
  tTextWindow Window_;
  tTextLayout Layout_;
  size_t Pos_ = 0;
  std::string_view Pending_;  // what Next gave and ReadLine has not used
  std::unique_ptr<tStream> Kept_;
};

}  // namespace kelvane

#endif  // KELVANE_MSGBASE_TEXT_BODY_H_
