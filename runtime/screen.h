// tScreen: the console device's behaviour as a model of its screen buffer.
// Cells hold a byte and an attribute; the cursor moves as the console moves
// it for each byte written (bell, backspace, line feed, carriage return,
// wrap at the last column, scroll at the last row with the new row blank in
// the writing attribute); WriteInPlace changes characters only, never moves
// the cursor and never scrolls. The backends that draw on a real terminal
// keep one of these to know what each cell holds; tests use it directly.
#ifndef KELVANE_RUNTIME_SCREEN_H_
#define KELVANE_RUNTIME_SCREEN_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane {

struct tCell {
  uint8_t Char = ' ';
  uint8_t Attr = 0x07;
};

class tScreen {
 public:
  // A screen of Width x Height blank cells in FillAttr, cursor at the
  // top-left corner.
  tScreen(int Width, int Height, uint8_t FillAttr = 0x07);

  int Width() const { return Width_; }
  int Height() const { return Height_; }
  // 0-based cursor position.
  int CursorX() const { return X_; }
  int CursorY() const { return Y_; }
  void SetCursor(int X, int Y);

  const tCell& At(int X, int Y) const { return Cells_[static_cast<size_t>(Y) * Width_ + X]; }
  tCell& At(int X, int Y) { return Cells_[static_cast<size_t>(Y) * Width_ + X]; }
  // The characters of row Y, trailing blanks removed.
  std::string RowText(int Y) const;

  // Applies the console's byte table to each byte of Text, written in Attr.
  void Write(std::string_view Text, uint8_t Attr);
  // Puts the bytes into consecutive cells from the cursor, keeping their
  // attributes; bytes past the last cell are dropped. Returns how many bytes
  // were placed.
  size_t WriteInPlace(std::string_view Text);

  // How many times byte 7 was written (the model's "beep").
  int Beeps() const { return Beeps_; }
  // How many rows have scrolled off the top.
  int Scrolled() const { return Scrolled_; }

 private:
  void LineFeed(uint8_t Attr);
  int Width_, Height_;
  int X_ = 0, Y_ = 0;
  int Beeps_ = 0;
  int Scrolled_ = 0;
  std::vector<tCell> Cells_;
};

}  // namespace kelvane

#endif  // KELVANE_RUNTIME_SCREEN_H_
