// The console device. Everything kelvane reports goes through it: plain
// writes in the current TextAttribute (the byte table of tScreen applies:
// bell, backspace, line feed, carriage return, wrap, scroll), in-place
// writes that change characters at the cursor without moving it, and the
// cursor position. Every write reaches the screen before the call returns.
//
// Backends: the Win32 console; on a POSIX terminal, ANSI colours (PC
// attribute to the 16 SGR colours) with code page 866 shown as UTF-8; and,
// when standard output is not a terminal, plain text with no escape codes,
// each screen row written once it is finished so a log holds what the
// screen showed. Tests use tModelConsole, which is the screen model alone.
#ifndef KELVANE_RUNTIME_CONSOLE_H_
#define KELVANE_RUNTIME_CONSOLE_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/screen.h"

namespace kelvane {

// The line end of a text file or pipe: "\r\n" on Windows, "\n" elsewhere
// (a platform part).
std::string_view PlainRowEnd();

class tConsole {
 public:
  virtual ~tConsole();

  // Writes Bytes in TextAttribute.
  virtual void Write(std::string_view Bytes) = 0;
  // Writes Bytes into the cells from the cursor on; the cursor stays, the
  // attributes stay, nothing scrolls, bytes past the last cell are dropped.
  virtual void WriteInPlace(std::string_view Bytes) = 0;
  // 1-based, from the top-left corner of the screen.
  virtual int CursorColumn() = 0;
  virtual int CursorRow() = 0;
  // Puts out whatever is still held (the plain backend's unfinished row).
  virtual void Finish() {}
  // Before a wait: puts out the row in progress as far as the cursor, so a
  // log shows what the screen shows while the program waits (and keeps it
  // if the run is killed then). The row goes on; what follows is put out
  // when it ends. Backends that hold nothing do nothing.
  virtual void Flush() {}
  // Columns of the screen; 0 when rows have no width (a log or a pipe).
  virtual int Width() { return 0; }

  void WriteLn(std::string_view Bytes) {
    Write(Bytes);
    Write("\r\n");
  }

  // The attribute in which plain text is written. Set up from the console
  // at start (bit 7 cleared); only the markup writer changes it, and it
  // restores it before returning.
  uint8_t TextAttribute = 0x07;
};

// A console that is only the screen model: what tests draw on.
class tModelConsole : public tConsole {
 public:
  tModelConsole(int Width = 80, int Height = 25, uint8_t Attr = 0x07) : Screen(Width, Height, Attr) {
    TextAttribute = Attr;
  }
  void Write(std::string_view Bytes) override { Screen.Write(Bytes, TextAttribute); }
  void WriteInPlace(std::string_view Bytes) override { Screen.WriteInPlace(Bytes); }
  int CursorColumn() override { return Screen.CursorX() + 1; }
  int CursorRow() override { return Screen.CursorY() + 1; }
  int Width() override { return Screen.Width(); }

  tScreen Screen;
};

// Plain text for a log or a pipe: rows are kept until a line feed ends them
// and then written whole, trailing blanks removed, each ended by RowEnd; a
// row is as wide as what was written into it (no wrap). Bell writes
// nothing. Bytes go out through the platform's standard-output writer
// (UTF-8 on POSIX, code page 866 bytes as they are on Windows).
//
// Flush puts out the row in progress before a wait. Should a cell that has
// gone out change afterwards (a row wiped and written anew), the row is
// ended there and written whole once more when it is finished: a log
// cannot take back what it was given.
class tPlainConsole : public tConsole {
 public:
  // The row buffer is taken once, up front, so that writing rows never
  // changes what the program holds on the heap between start and end.
  tPlainConsole() { Row_Text_.reserve(4096); }
  void Write(std::string_view Bytes) override;
  void WriteInPlace(std::string_view Bytes) override;
  int CursorColumn() override { return static_cast<int>(Column_) + 1; }
  int CursorRow() override { return Row_ + 1; }
  void Finish() override;
  void Flush() override;

  // What the rows look like so far (for tests), each ended by RowEnd.
  const std::string& Emitted() const { return Emitted_; }
  // When true (the default for the process console) rows go to standard
  // output; tests turn it off and read Emitted().
  bool ToStdout = true;
  // What ends a row: the platform's line end for text files (CR LF on
  // Windows, LF elsewhere).
  std::string_view RowEnd = PlainRowEnd();

 private:
  void Put(std::string_view Text);
  void Cell(size_t Column, char Ch);
  // Puts out the row from the first cell not yet out up to End, and Then
  // behind it, in one piece.
  void PutRow(size_t End, std::string_view Then = {});
  void EndRow();
  std::string Row_Text_;
  size_t Column_ = 0;
  size_t Out_ = 0;        // cells of this row already put out
  bool Changed_ = false;  // a cell that was put out has changed since
  int Row_ = 0;
  std::string Emitted_;
};

// The process's console (set up by SetUpConsole), or a test's stand-in.
tConsole& Console();
// Installs C (not owned); nullptr restores the process console.
void SetConsole(tConsole* C);
// Chooses the backend for standard output and takes the start-up attribute
// from the console (0x07 where it cannot be read).
void SetUpConsole();

// Platform parts.
// Writes bytes of code page 866 text to standard output: translated to
// UTF-8 on POSIX, as they are on Windows. Flushes before returning.
void WriteStdout(std::string_view Bytes);
// An ANSI terminal: the screen model knows every cell, and the terminal is
// told the same bytes in UTF-8 with each change of attribute as one SGR
// sequence (PC colours to the 16 ANSI ones). Control bytes that would move
// the terminal's cursor on their own are shown as blanks.
class tAnsiConsole : public tConsole {
 public:
  tAnsiConsole(int Width, int Height);
  ~tAnsiConsole() override;
  void Write(std::string_view Bytes) override;
  void WriteInPlace(std::string_view Bytes) override;
  int CursorColumn() override { return Screen_.CursorX() + 1; }
  int CursorRow() override { return Screen_.CursorY() + 1; }
  int Width() override { return Screen_.Width(); }
  void Finish() override;

  // What the terminal has been sent (for tests, with ToStdout off).
  const std::string& Emitted() const { return Emitted_; }
  bool ToStdout = true;

 private:
  void Put(const std::string& Out);
  tScreen Screen_;
  int Told_ = -1;  // the attribute the terminal was last told
  std::string Emitted_;
};

// Writes bytes to standard output as they are. Flushes before returning.
void WriteStdoutRaw(std::string_view Bytes);
// Whether text for standard output and standard error goes out as UTF-8:
// on POSIX it does, to a terminal, a file or a pipe alike, as the console
// backends write it; on Windows the console, files and pipes take code
// page 866 bytes as they are.
bool ShowsUtf8();
// A new backend for the process's standard output.
tConsole* NewProcessConsole();

// Code page 866 byte to UTF-8 (the bullet 0xFE is U+25A0).
void AppendCp866AsUtf8(std::string& Out, uint8_t Byte);

}  // namespace kelvane

#endif  // KELVANE_RUNTIME_CONSOLE_H_
