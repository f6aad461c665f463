// The console on POSIX: an ANSI terminal when standard output is one,
// plain text otherwise. All output is UTF-8; the system's text is code page
// 866 and is translated byte by byte on the way out.
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>

#include "runtime/console.h"

namespace kelvane {

namespace {

void WriteAll(const std::string& Out) {
  size_t Done = 0;
  while (Done < Out.size()) {
    ssize_t N = ::write(STDOUT_FILENO, Out.data() + Done, Out.size() - Done);
    if (N <= 0) return;  // nowhere to write: the output is lost, the run goes on
    Done += static_cast<size_t>(N);
  }
}

// PC colour numbers (blue = 1, red = 4) to ANSI ones (red = 1, blue = 4).
const int AnsiOrder[8] = {0, 4, 2, 6, 1, 5, 3, 7};

void AppendSgr(std::string& Out, uint8_t Attr) {
  int Fg = Attr & 0x0F, Bg = (Attr >> 4) & 0x07;
  Out += "\x1b[0;";
  Out += std::to_string(Fg < 8 ? 30 + AnsiOrder[Fg] : 90 + AnsiOrder[Fg - 8]);
  Out += ';';
  Out += std::to_string((Attr & 0x80) ? 100 + AnsiOrder[Bg] : 40 + AnsiOrder[Bg]);
  Out += 'm';
}

// A terminal: the screen model knows every cell, the terminal is told the
// same bytes with colours as SGR sequences.
class tAnsiConsole : public tConsole {
 public:
  tAnsiConsole(int Width, int Height) : Screen_(Width, Height, 0x07) {
    // The program starts on the line below the shell prompt; the model
    // places the cursor on the bottom row, where a busy terminal has it.
    Screen_.SetCursor(0, Height - 1);
  }
  ~tAnsiConsole() override { Finish(); }

  void Write(std::string_view Bytes) override {
    std::string Out;
    for (char Ch : Bytes) {
      uint8_t B = static_cast<uint8_t>(Ch);
      if (B == 7 || B == 8 || B == 10 || B == 13) {
        Out.push_back(Ch);
        continue;
      }
      if (B != Emitted_) {
        AppendSgr(Out, TextAttribute);
        Emitted_ = TextAttribute;
      }
      if (B < 0x20)
        Out.push_back(' ');  // other control bytes would move the terminal's cursor
      else
        AppendCp866AsUtf8(Out, B);
    }
    // The model decides where the cursor is; after a write in the last
    // column the terminal's deferred wrap would otherwise differ from it.
    Screen_.Write(Bytes, TextAttribute);
    WriteAll(Out);
  }

  void WriteInPlace(std::string_view Bytes) override {
    int X = Screen_.CursorX(), Y = Screen_.CursorY();
    size_t N = Screen_.WriteInPlace(Bytes);
    std::string Out = "\x1b" "7";
    int Cur = -1;
    for (size_t I = 0; I < N; ++I) {
      size_t Cell = static_cast<size_t>(Y) * Screen_.Width() + X + I;
      const tCell& C = Screen_.At(static_cast<int>(Cell % Screen_.Width()), static_cast<int>(Cell / Screen_.Width()));
      if (C.Attr != Cur) {
        AppendSgr(Out, C.Attr);
        Cur = C.Attr;
      }
      AppendCp866AsUtf8(Out, C.Char < 0x20 ? ' ' : C.Char);
    }
    Out += "\x1b" "8";
    Emitted_ = -1;
    WriteAll(Out);
  }

  int CursorColumn() override { return Screen_.CursorX() + 1; }
  int CursorRow() override { return Screen_.CursorY() + 1; }
  void Finish() override {
    if (Emitted_ != -1) WriteAll("\x1b[0m");
    Emitted_ = -1;
  }

 private:
  tScreen Screen_;
  int Emitted_ = -1;  // the attribute the terminal was last told
};

}  // namespace

void WriteStdout(std::string_view Bytes) {
  std::string Out;
  Out.reserve(Bytes.size() + 16);
  for (char Ch : Bytes) AppendCp866AsUtf8(Out, static_cast<uint8_t>(Ch));
  WriteAll(Out);
}

tConsole* NewProcessConsole() {
  if (::isatty(STDOUT_FILENO)) {
    struct winsize Ws {};
    int W = 80, H = 25;
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &Ws) == 0 && Ws.ws_col > 0 && Ws.ws_row > 0) {
      W = Ws.ws_col;
      H = Ws.ws_row;
    }
    static tAnsiConsole Ansi(W, H);
    return &Ansi;
  }
  static tPlainConsole Plain;
  return &Plain;
}

}  // namespace kelvane
