#include "runtime/console.h"

#include <algorithm>

namespace kelvane {

namespace {

// Unicode code points of the bytes 0x80-0xFF of code page 866.
const uint16_t Cp866High[128] = {
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
    0x0401, 0x0451, 0x0404, 0x0454, 0x0407, 0x0457, 0x040E, 0x045E,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x2116, 0x00A4, 0x25A0, 0x00A0
};

// PC colour numbers (blue = 1, red = 4) to ANSI ones (red = 1, blue = 4).
const int AnsiOrder[8] = {0, 4, 2, 6, 1, 5, 3, 7};

// The PC console's black background is the screen itself: on a terminal it
// is drawn as the terminal's own background (SGR 49), so a light terminal
// shows no black bands behind the text. Every other colour, foreground or
// background (dark grey, bit 7 with black, included), is sent as it is.
void AppendSgr(std::string& Out, uint8_t Attr) {
  int Fg = Attr & 0x0F, Bg = (Attr >> 4) & 0x07;
  Out += "\x1b[0;";
  Out += std::to_string(Fg < 8 ? 30 + AnsiOrder[Fg] : 90 + AnsiOrder[Fg - 8]);
  Out += ';';
  if (Attr & 0x80)
    Out += std::to_string(100 + AnsiOrder[Bg]);
  else
    Out += Bg == 0 ? "49" : std::to_string(40 + AnsiOrder[Bg]);
  Out += 'm';
}

// Bytes below 0x20 other than the four the screen acts on would be acted
// on by a terminal reading a log or a pipe (an escape sequence in a sender's
// name, say): they are shown as blanks.
char Shown(char Ch) { return static_cast<uint8_t>(Ch) < 0x20 ? ' ' : Ch; }

// The end of Row's first Limit cells without their trailing blanks.
size_t TextEnd(const std::string& Row, size_t Limit) {
  while (Limit > 0 && Row[Limit - 1] == ' ') --Limit;
  return Limit;
}

tConsole* Installed = nullptr;
tConsole* ProcessConsole = nullptr;

}  // namespace

tConsole::~tConsole() = default;

void AppendCp866AsUtf8(std::string& Out, uint8_t Byte) {
  uint32_t Cp = Byte < 0x80 ? Byte : Cp866High[Byte - 0x80];
  if (Cp < 0x80) {
    Out.push_back(static_cast<char>(Cp));
  } else if (Cp < 0x800) {
    Out.push_back(static_cast<char>(0xC0 | (Cp >> 6)));
    Out.push_back(static_cast<char>(0x80 | (Cp & 0x3F)));
  } else {
    Out.push_back(static_cast<char>(0xE0 | (Cp >> 12)));
    Out.push_back(static_cast<char>(0x80 | ((Cp >> 6) & 0x3F)));
    Out.push_back(static_cast<char>(0x80 | (Cp & 0x3F)));
  }
}

void tPlainConsole::Put(std::string_view Text) {
  if (ToStdout)
    WriteStdout(Text);  // the process console keeps nothing once written
  else
    Emitted_ += Text;
}

void tPlainConsole::Cell(size_t Column, char Ch) {
  Ch = Shown(Ch);
  if (Column < Row_Text_.size()) {
    if (Column < Out_ && Row_Text_[Column] != Ch) Changed_ = true;
    Row_Text_[Column] = Ch;
    return;
  }
  Row_Text_.resize(Column, ' ');
  Row_Text_.push_back(Ch);
}

void tPlainConsole::Write(std::string_view Bytes) {
  for (char Ch : Bytes) {
    switch (static_cast<uint8_t>(Ch)) {
      case 7:
        break;  // a log has no bell
      case 8:
        if (Column_ > 0) --Column_;
        break;
      case 10:
        EndRow();
        break;
      case 13:
        Column_ = 0;
        break;
      default:
        Cell(Column_++, Ch);
        break;
    }
  }
}

void tPlainConsole::WriteInPlace(std::string_view Bytes) {
  for (size_t I = 0; I < Bytes.size(); ++I) Cell(Column_ + I, Bytes[I]);
}

void tPlainConsole::PutRow(size_t End, std::string_view Then) {
  // One piece of output for all of it: on a log of a million lines every
  // write is a call to the system. (Built afresh each time: a buffer kept
  // would show in the heap count at exit.)
  std::string Pending;
  if (Changed_) {
    // What went out is no longer what the row holds: end the line the log
    // has and give the row whole.
    Pending += RowEnd;
    Out_ = 0;
    Changed_ = false;
  }
  if (End > Out_) {
    Pending.append(Row_Text_, Out_, End - Out_);
    Out_ = End;
  }
  Pending += Then;
  if (!Pending.empty()) Put(Pending);
}

void tPlainConsole::EndRow() {
  // A line feed keeps the column, as on a screen; the next row starts blank.
  PutRow(TextEnd(Row_Text_, Row_Text_.size()), RowEnd);
  Row_Text_.assign(Column_, ' ');
  Out_ = 0;
  Changed_ = false;
  ++Row_;
}

void tPlainConsole::Flush() {
  // Up to the cursor: in-place text beyond it (a spinner) is still to
  // change. Trailing blanks wait for what follows them.
  PutRow(TextEnd(Row_Text_, std::min(Column_, Row_Text_.size())));
}

void tPlainConsole::Finish() {
  PutRow(TextEnd(Row_Text_, Row_Text_.size()));
  Row_Text_.clear();
  Column_ = 0;
  Out_ = 0;
}

tAnsiConsole::tAnsiConsole(int Width, int Height) : Screen_(Width, Height, 0x07) {
  // The program starts on the line below the shell prompt; the model
  // places the cursor on the bottom row, where a busy terminal has it.
  Screen_.SetCursor(0, Height - 1);
}

tAnsiConsole::~tAnsiConsole() { Finish(); }

void tAnsiConsole::Put(const std::string& Out) {
  if (ToStdout)
    WriteStdoutRaw(Out);
  else
    Emitted_ += Out;
}

void tAnsiConsole::Write(std::string_view Bytes) {
  std::string Out;
  for (char Ch : Bytes) {
    uint8_t B = static_cast<uint8_t>(Ch);
    if (B == 7 || B == 8 || B == 10 || B == 13) {
      Out.push_back(Ch);
      continue;
    }
    if (TextAttribute != Told_) {
      AppendSgr(Out, TextAttribute);
      Told_ = TextAttribute;
    }
    AppendCp866AsUtf8(Out, static_cast<uint8_t>(Shown(Ch)));
  }
  // The model decides where the cursor is; after a write in the last
  // column the terminal's deferred wrap would otherwise differ from it.
  Screen_.Write(Bytes, TextAttribute);
  Put(Out);
}

void tAnsiConsole::WriteInPlace(std::string_view Bytes) {
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
    AppendCp866AsUtf8(Out, static_cast<uint8_t>(Shown(static_cast<char>(C.Char))));
  }
  Out += "\x1b" "8";
  Told_ = -1;
  Put(Out);
}

void tAnsiConsole::Finish() {
  if (Told_ != -1) Put("\x1b[0m");
  Told_ = -1;
}

tConsole& Console() {
  if (Installed) return *Installed;
  if (!ProcessConsole) SetUpConsole();
  return *ProcessConsole;
}

void SetConsole(tConsole* C) { Installed = C; }

void SetUpConsole() {
  if (!ProcessConsole) ProcessConsole = NewProcessConsole();
}

}  // namespace kelvane
