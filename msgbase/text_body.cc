// The text window and the body reader of text_body.h.
#include "msgbase/text_body.h"

#include <algorithm>
#include <cstring>

#include "runtime/stream.h"

namespace kelvane {

namespace {

constexpr uint8_t Cr = 13;
constexpr uint8_t Lf = 10;

inline bool IsBreak(uint8_t C) { return C == Cr || C == Lf; }
inline uint8_t PartnerOf(uint8_t C) { return C == Cr ? Lf : Cr; }

}  // namespace

size_t tTextWindow::BlockSize = 65536;

tTextWindow::tTextWindow(tStream& S, int64_t From, int64_t To, std::vector<uint8_t>& Buffer)
    : S_(S), From_(From), Size_(To > From ? static_cast<size_t>(To - From) : 0), Buf_(Buffer) {}

uint8_t tTextWindow::Load(size_t I, bool Forwards) {
  if (I >= Size_) return 0;
  size_t Want = std::min(BlockSize, Size_);
  if (Buf_.size() < Want) Buf_.resize(Want);
  Start_ = Forwards ? std::min(I, Size_ - Want) : (I + 1 >= Want ? I + 1 - Want : 0);
  // Going forwards a block near the end ends with the text, so that the
  // backward scan of its tail that follows needs no other.
  S_.Seek(From_ + static_cast<int64_t>(Start_));
  Len_ = S_.Read(Buf_.data(), static_cast<uint32_t>(std::min(Want, Size_ - Start_)));
  S_.Reset();
  return I - Start_ < Len_ ? Buf_[I - Start_] : 0;
}

std::string_view tTextWindow::Piece(size_t I, size_t N) {
  if (I >= Size_) return {};
  N = std::min(N, Size_ - I);
  if (I < Start_ || I + N > Start_ + Len_) Load(I, true);
  if (I - Start_ >= Len_) return {};
  N = std::min(N, Len_ - (I - Start_));
  return std::string_view(reinterpret_cast<const char*>(Buf_.data() + (I - Start_)), N);
}

size_t tTextWindow::CutAtNul() {
  size_t Pos = 0;
  while (Pos < Size_) {
    if (Pos - Start_ >= Len_) Load(Pos, true);
    if (Pos - Start_ >= Len_) break;  // the file ends, or fails, here
    size_t End = std::min(Len_, Size_ - Start_);
    const void* Nul = std::memchr(Buf_.data() + (Pos - Start_), 0, End - (Pos - Start_));
    if (Nul) {
      Pos = Start_ + static_cast<size_t>(static_cast<const uint8_t*>(Nul) - Buf_.data());
      break;
    }
    Pos = Start_ + End;
  }
  Size_ = std::min(Pos, Size_);
  Len_ = Start_ < Size_ ? std::min(Len_, Size_ - Start_) : 0;
  return Size_;
}

size_t tTextWindow::FindBreak(size_t Pos, size_t Limit) {
  Limit = std::min(Limit, Size_);
  while (Pos < Limit) {
    if (Pos - Start_ >= Len_) Load(Pos, true);
    if (Pos - Start_ >= Len_) return Limit;
    const uint8_t* P = Buf_.data() + (Pos - Start_);
    const uint8_t* End = Buf_.data() + std::min(Len_, Limit - Start_);
    for (; P < End; ++P)
      if (IsBreak(*P) || *P == 0) return Start_ + static_cast<size_t>(P - Buf_.data());
    Pos = Start_ + static_cast<size_t>(End - Buf_.data());
  }
  return Limit;
}

size_t tTextWindow::LineBegin(size_t Pos) {
  Pos = std::min(Pos, Size_);
  while (Pos > 0) {
    if (Pos - 1 - Start_ >= Len_) Load(Pos - 1, false);
    if (Pos - 1 - Start_ >= Len_) return Pos;  // unreadable: no break found below
    const uint8_t* Low = Buf_.data();
    const uint8_t* P = Buf_.data() + (Pos - Start_);
    while (P > Low)
      if (IsBreak(*--P)) return Start_ + static_cast<size_t>(P - Low) + 1;
    Pos = Start_;
  }
  return 0;
}

tTextBody::tTextBody(tStream& S, int64_t From, const tTextLayout& Layout)
    : Window_(S, From, From + static_cast<int64_t>(Layout.Limit), Own_), Layout_(Layout) {}

tTextBody::tTextBody(const tTextWindow& Window, const tTextLayout& Layout) : Window_(Window), Layout_(Layout) {}

tTextBody::~tTextBody() = default;

void tTextBody::Keep(std::unique_ptr<tStream> Stream) { Kept_ = std::move(Stream); }

std::string_view tTextBody::Next() {
  const tTextLayout& L = Layout_;
  auto InCut = [&L](size_t I) { return I >= L.CutFrom && I < L.CutTo; };
  // The head: its lines are control lines, which stay out, or empty
  // lines, whose breaks stay in.
  while (Pos_ < L.HeadEnd && Pos_ < L.Limit) {
    size_t Break = Window_.FindBreak(Pos_, L.Limit);
    size_t End = Break;
    if (Break < L.Limit) {
      uint8_t C = Window_[End++];
      if (End < L.Limit && Window_[End] == PartnerOf(C)) ++End;
    }
    size_t Lo = Pos_;
    Pos_ = End;
    if (Break != Lo) continue;
    // An empty line: its one or two break bytes, but for those the tail
    // takes (which then takes a whole end of them).
    size_t Hi = End;
    if (InCut(Lo)) Lo = std::min(Hi, L.CutTo);
    if (Hi > Lo && InCut(Hi - 1)) Hi = std::max(Lo, L.CutFrom);
    if (Hi > Lo) return Window_.Piece(Lo, Hi - Lo);
  }
  if (InCut(Pos_)) Pos_ = L.CutTo;
  if (Pos_ >= L.Limit) return {};
  size_t End = Pos_ < L.CutFrom ? std::min(L.Limit, L.CutFrom) : L.Limit;
  std::string_view Got = Window_.Piece(Pos_, std::min(End - Pos_, tTextWindow::BlockSize));
  Pos_ = Got.empty() ? L.Limit : Pos_ + Got.size();
  return Got;
}

bool tTextBody::ReadLine(tShortString& Line) {
  Line.Clear();
  bool Any = false;
  while (true) {
    if (Pending_.empty()) {
      Pending_ = Next();
      if (Pending_.empty()) return Any;
    }
    Any = true;
    size_t K = 0;
    while (K < Pending_.size() && !IsBreak(static_cast<uint8_t>(Pending_[K]))) ++K;
    if (Line.Length() < tShortString::MaxLength) Line.Append(Pending_.substr(0, K));
    if (K == Pending_.size()) {
      Pending_ = {};
      continue;
    }
    uint8_t Break = static_cast<uint8_t>(Pending_[K]);
    Pending_.remove_prefix(K + 1);
    if (Pending_.empty()) Pending_ = Next();
    if (!Pending_.empty() && static_cast<uint8_t>(Pending_[0]) == PartnerOf(Break)) Pending_.remove_prefix(1);
    return true;
  }
}

}  // namespace kelvane
