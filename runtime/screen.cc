#include "runtime/screen.h"

#include <algorithm>

namespace kelvane {

tScreen::tScreen(int Width, int Height, uint8_t FillAttr)
    : Width_(std::max(Width, 1)), Height_(std::max(Height, 1)) {
  Cells_.assign(static_cast<size_t>(Width_) * Height_, tCell{' ', FillAttr});
}

void tScreen::SetCursor(int X, int Y) {
  X_ = std::clamp(X, 0, Width_ - 1);
  Y_ = std::clamp(Y, 0, Height_ - 1);
}

std::string tScreen::RowText(int Y) const {
  std::string Row;
  for (int X = 0; X < Width_; ++X) Row.push_back(static_cast<char>(At(X, Y).Char));
  Row.erase(Row.find_last_not_of(' ') + 1);
  return Row;
}

void tScreen::LineFeed(uint8_t Attr) {
  if (Y_ < Height_ - 1) {
    ++Y_;
    return;
  }
  // Scroll the whole buffer up one row; the new last row is blank in the
  // attribute of the write that caused it.
  std::move(Cells_.begin() + Width_, Cells_.end(), Cells_.begin());
  std::fill(Cells_.end() - Width_, Cells_.end(), tCell{' ', Attr});
  ++Scrolled_;
}

void tScreen::Write(std::string_view Text, uint8_t Attr) {
  for (char Ch : Text) {
    uint8_t B = static_cast<uint8_t>(Ch);
    switch (B) {
      case 7:
        ++Beeps_;
        break;
      case 8:
        if (X_ > 0) --X_;
        break;
      case 10:
        LineFeed(Attr);
        break;
      case 13:
        X_ = 0;
        break;
      default:
        At(X_, Y_) = tCell{B, Attr};
        if (++X_ >= Width_) {
          X_ = 0;
          LineFeed(Attr);
        }
        break;
    }
  }
}

size_t tScreen::WriteInPlace(std::string_view Text) {
  size_t Cell = static_cast<size_t>(Y_) * Width_ + X_;
  size_t N = std::min(Text.size(), Cells_.size() - Cell);
  for (size_t I = 0; I < N; ++I) Cells_[Cell + I].Char = static_cast<uint8_t>(Text[I]);
  return N;
}

}  // namespace kelvane
