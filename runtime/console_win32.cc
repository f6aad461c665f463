// The console on Windows: the Win32 console when standard output is one
// (code page 866 bytes as they are; colours through the console attribute;
// in-place writes through ReadConsoleOutputA/WriteConsoleOutputA), plain
// text otherwise.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "runtime/console.h"

namespace kelvane {

namespace {

HANDLE Out() { return GetStdHandle(STD_OUTPUT_HANDLE); }

void WriteRaw(std::string_view Bytes) {
  HANDLE H = Out();
  size_t Done = 0;
  while (Done < Bytes.size()) {
    DWORD N = 0;
    if (!WriteFile(H, Bytes.data() + Done, static_cast<DWORD>(Bytes.size() - Done), &N, nullptr) || N == 0) return;
    Done += N;
  }
}

class tWin32Console : public tConsole {
 public:
  tWin32Console() {
    CONSOLE_SCREEN_BUFFER_INFO Info;
    if (GetConsoleScreenBufferInfo(Out(), &Info)) {
      WORD Attr = Info.wAttributes;
      DWORD Read = 0;
      ReadConsoleOutputAttribute(Out(), &Attr, 1, Info.dwCursorPosition, &Read);
      TextAttribute = static_cast<uint8_t>(Attr & 0x7F);
      Original_ = Info.wAttributes;
    }
  }
  ~tWin32Console() override { SetConsoleTextAttribute(Out(), Original_); }

  void Write(std::string_view Text) override {
    SetConsoleTextAttribute(Out(), TextAttribute);
    // The console would expand a TAB to the next tab stop; on the screen
    // of this device every byte but the four it acts on takes one cell.
    std::string Copy;
    if (Text.find('\t') != std::string_view::npos) {
      Copy.assign(Text);
      std::replace(Copy.begin(), Copy.end(), '\t', ' ');
      Text = Copy;
    }
    std::string_view Bytes = Text;
    size_t Start = 0;
    for (size_t I = 0; I <= Bytes.size(); ++I) {
      if (I == Bytes.size() || Bytes[I] == 7) {
        WriteRaw(Bytes.substr(Start, I - Start));
        if (I < Bytes.size()) MessageBeep(0xFFFFFFFF);
        Start = I + 1;
      }
    }
  }

  void WriteInPlace(std::string_view Bytes) override {
    CONSOLE_SCREEN_BUFFER_INFO Info;
    if (!GetConsoleScreenBufferInfo(Out(), &Info)) return;
    int W = Info.dwSize.X, H = Info.dwSize.Y;
    int X = Info.dwCursorPosition.X, Y = Info.dwCursorPosition.Y;
    size_t I = 0;
    while (I < Bytes.size() && Y < H) {
      int N = static_cast<int>(std::min<size_t>(Bytes.size() - I, static_cast<size_t>(W - X)));
      std::vector<CHAR_INFO> Cells(static_cast<size_t>(N));
      SMALL_RECT R{static_cast<SHORT>(X), static_cast<SHORT>(Y), static_cast<SHORT>(X + N - 1), static_cast<SHORT>(Y)};
      COORD Size{static_cast<SHORT>(N), 1}, Origin{0, 0};
      if (!ReadConsoleOutputA(Out(), Cells.data(), Size, Origin, &R)) return;
      for (int K = 0; K < N; ++K) Cells[static_cast<size_t>(K)].Char.AsciiChar = Bytes[I + static_cast<size_t>(K)];
      R = SMALL_RECT{static_cast<SHORT>(X), static_cast<SHORT>(Y), static_cast<SHORT>(X + N - 1), static_cast<SHORT>(Y)};
      WriteConsoleOutputA(Out(), Cells.data(), Size, Origin, &R);
      I += static_cast<size_t>(N);
      X = 0;
      ++Y;
    }
  }

  int CursorColumn() override {
    CONSOLE_SCREEN_BUFFER_INFO Info;
    return GetConsoleScreenBufferInfo(Out(), &Info) ? Info.dwCursorPosition.X + 1 : 1;
  }
  int CursorRow() override {
    CONSOLE_SCREEN_BUFFER_INFO Info;
    return GetConsoleScreenBufferInfo(Out(), &Info) ? Info.dwCursorPosition.Y + 1 : 1;
  }
  int Width() override {
    CONSOLE_SCREEN_BUFFER_INFO Info;
    return GetConsoleScreenBufferInfo(Out(), &Info) ? Info.dwSize.X : 80;
  }

 private:
  WORD Original_ = 0x07;
};

}  // namespace

// Rows written to a file or a pipe end as Windows text files do.
std::string_view PlainRowEnd() { return "\r\n"; }

void WriteStdout(std::string_view Bytes) { WriteRaw(Bytes); }
void WriteStdoutRaw(std::string_view Bytes) { WriteRaw(Bytes); }

bool ShowsUtf8() { return false; }

tConsole* NewProcessConsole() {
  DWORD Mode;
  if (GetConsoleMode(Out(), &Mode)) {
    static tWin32Console Win;
    return &Win;
  }
  static tPlainConsole Plain;
  return &Plain;
}

}  // namespace kelvane
