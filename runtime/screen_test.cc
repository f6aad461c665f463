#include "runtime/screen.h"

#include <gtest/gtest.h>

#include "runtime/console.h"

namespace kelvane {
namespace {

TEST(Screen, PrintableBytesTakeTheWritingAttribute) {
  tScreen S(10, 3);
  S.Write("ab", 0x0C);
  S.Write("c", 0x1F);
  EXPECT_EQ(S.At(0, 0).Char, 'a');
  EXPECT_EQ(S.At(1, 0).Attr, 0x0C);
  EXPECT_EQ(S.At(2, 0).Attr, 0x1F);
  EXPECT_EQ(S.At(3, 0).Attr, 0x07);  // untouched cells keep the fill
  EXPECT_EQ(S.CursorX(), 3);
}

TEST(Screen, BellBackspaceCarriageReturnLineFeed) {
  tScreen S(10, 3);
  S.Write("ab\x07", 0x07);
  EXPECT_EQ(S.Beeps(), 1);
  EXPECT_EQ(S.CursorX(), 2);  // the bell writes nothing
  S.Write("\x08\x08\x08X", 0x07);  // backspace stops in the first column
  EXPECT_EQ(S.RowText(0), "Xb");
  S.Write("\n", 0x07);  // line feed keeps the column
  EXPECT_EQ(S.CursorX(), 1);
  EXPECT_EQ(S.CursorY(), 1);
  S.Write("\rY", 0x07);
  EXPECT_EQ(S.RowText(1), "Y");
}

TEST(Screen, WrapsAtTheLastColumnAndScrollsAtTheLastRow) {
  tScreen S(4, 2);
  S.Write("abcd", 0x07);
  EXPECT_EQ(S.CursorX(), 0);  // past the last column: first column, next row
  EXPECT_EQ(S.CursorY(), 1);
  S.Write("efgh", 0x07);      // the wrap in the last row scrolls
  EXPECT_EQ(S.Scrolled(), 1);
  EXPECT_EQ(S.RowText(0), "efgh");
  EXPECT_EQ(S.RowText(1), "");
  EXPECT_EQ(S.CursorY(), 1);
  S.Write("\n", 0x4E);  // the new row is blank in the writing attribute
  EXPECT_EQ(S.At(0, 1).Attr, 0x4E);
  EXPECT_EQ(S.At(3, 1).Char, ' ');
}

TEST(Screen, InPlaceWriteKeepsCursorAttributesAndStopsAtTheLastCell) {
  tScreen S(5, 2);
  S.Write("\r\n", 0x07);
  S.Write("ab", 0x0C);
  S.SetCursor(3, 1);
  size_t Placed = S.WriteInPlace("[|]xyz");
  EXPECT_EQ(Placed, 2u);  // cells (3,1) and (4,1): the end of the screen
  EXPECT_EQ(S.RowText(1), "ab [|");
  EXPECT_EQ(S.CursorX(), 3);
  EXPECT_EQ(S.CursorY(), 1);
  EXPECT_EQ(S.Scrolled(), 0);
  S.SetCursor(0, 1);
  S.WriteInPlace("AB");
  EXPECT_EQ(S.At(0, 1).Attr, 0x0C);  // characters change, attributes stay
  // In-place text runs on into the next row.
  S.SetCursor(3, 0);
  S.WriteInPlace("123");
  EXPECT_EQ(S.RowText(0), "   12");
  EXPECT_EQ(S.At(0, 1).Char, '3');
}

// A plain console that keeps what it puts out, rows ended by LF.
struct tLogConsole : tPlainConsole {
  tLogConsole() {
    ToStdout = false;
    RowEnd = "\n";
  }
};

TEST(PlainConsole, RowsAreWrittenOnceFinishedWithoutWrap) {
  tLogConsole C;
  C.Write("   searhing: 1");
  C.Write("\r");
  C.WriteInPlace("   searhing: 22");
  EXPECT_EQ(C.Emitted(), "");  // nothing until the row is finished
  C.Write("\r\n");
  EXPECT_EQ(C.Emitted(), "   searhing: 22\n");  // the last drawing stays
  C.Write("ab");
  C.Write("\r");
  C.Write(std::string(59, ' '));
  C.Write("\r");
  C.Write("done\x07");  // a wiped row holds only what came after
  C.Write("\r\n");
  C.Write(std::string(200, 'x'));  // no wrap at any width
  C.Write("\r\n");
  EXPECT_EQ(C.Emitted(), "   searhing: 22\ndone\n" + std::string(200, 'x') + "\n");
  EXPECT_EQ(C.CursorRow(), 4);
}

TEST(PlainConsole, ControlBytesFromTheDataReachNoLog) {
  // A name that carries an escape sequence must not act on the terminal
  // that later shows the log.
  tLogConsole C;
  C.Write("from \x1b[2Jevil\x01\r\n");
  C.Write("x");
  C.WriteInPlace("\x1b" "b");
  C.Write("\r\n");
  EXPECT_EQ(C.Emitted(), "from  [2Jevil\nx b\n");
}

TEST(PlainConsole, TheRowInProgressGoesOutBeforeAWait) {
  tLogConsole C;
  C.Write("   pause 3 second to check hands...");
  C.Flush();
  EXPECT_EQ(C.Emitted(), "   pause 3 second to check hands...");
  C.Write(" done!\r\n");
  EXPECT_EQ(C.Emitted(), "   pause 3 second to check hands... done!\n");

  // Only up to the cursor, trailing blanks held back: the spinner drawn in
  // place after it is still to change.
  C.Write("   we must wait ");
  C.WriteInPlace("[|]");
  C.Flush();
  C.WriteInPlace("[/]");
  C.Flush();
  EXPECT_EQ(C.Emitted(), "   pause 3 second to check hands... done!\n   we must wait");
  C.Write("done!\r\n");
  EXPECT_EQ(C.Emitted(), "   pause 3 second to check hands... done!\n   we must wait done!\n");

  // A row changed where it had gone out is given again, whole.
  C.Write("abc");
  C.Flush();
  C.Write("\rxyz\r\n");
  C.Write("last");
  C.Flush();
  C.Finish();  // at exit: nothing is put out twice
  EXPECT_EQ(C.Emitted(), "   pause 3 second to check hands... done!\n   we must wait done!\nabc\nxyz\nlast");
}

TEST(PlainConsole, RowsEndAsTextFilesDoOnThePlatform) {
  tPlainConsole C;
#ifdef _WIN32
  EXPECT_EQ(C.RowEnd, "\r\n");
#else
  EXPECT_EQ(C.RowEnd, "\n");
#endif
  C.ToStdout = false;
  C.Write("a\r\n");
  EXPECT_EQ(C.Emitted(), std::string("a").append(C.RowEnd));
}

TEST(AnsiConsole, OneSgrPerChangeOfAttribute) {
  tAnsiConsole C(80, 25);
  C.ToStdout = false;
  C.TextAttribute = 0x07;
  C.Write("ab");
  C.TextAttribute = 0x20;  // a byte equal to the attribute told before
  C.Write("  ");
  C.TextAttribute = 0x07;
  C.Write(" x\x1b\r\n");
  C.Finish();
  EXPECT_EQ(C.Emitted(),
            "\x1b[0;37;49mab"
            "\x1b[0;30;42m  "
            "\x1b[0;37;49m x \r\n"
            "\x1b[0m");
  EXPECT_EQ(C.CursorRow(), 25);  // started on the bottom row, scrolled
  EXPECT_EQ(C.CursorColumn(), 1);
}

TEST(AnsiConsole, BlackBackgroundIsTheTerminalsOwn) {
  struct {
    uint8_t Attr;
    const char* Sgr;
  } const Cases[] = {
      {0x07, "\x1b[0;37;49m"},   // the start-up grey on the terminal's background
      {0x00, "\x1b[0;30;49m"},   // black text too: only the background is the terminal's
      {0x0F, "\x1b[0;97;49m"},
      {0x1E, "\x1b[0;93;44m"},   // yellow on blue stays blue
      {0x4C, "\x1b[0;91;41m"},   // PC red is ANSI 1
      {0x70, "\x1b[0;30;47m"},   // black on light grey
      {0x87, "\x1b[0;37;100m"},  // bit 7 with black is dark grey, a colour of its own
      {0xF9, "\x1b[0;94;107m"},
  };
  for (const auto& K : Cases) {
    tAnsiConsole C(80, 25);
    C.ToStdout = false;
    C.TextAttribute = K.Attr;
    C.Write("x");
    EXPECT_EQ(C.Emitted(), std::string(K.Sgr) + "x") << std::hex << int(K.Attr);
  }
}

TEST(AnsiConsole, InPlaceWritesRestoreTheCursorAndTheirCellsColours) {
  tAnsiConsole C(10, 5);
  C.ToStdout = false;
  C.TextAttribute = 0x0E;
  C.Write("ab");
  C.Write("\r");
  C.WriteInPlace("XYZ");  // two cells in yellow, one in the start-up grey
  EXPECT_EQ(C.Emitted(), "\x1b[0;93;49mab\r\x1b" "7\x1b[0;93;49mXY\x1b[0;37;49mZ\x1b" "8");
  EXPECT_EQ(C.CursorColumn(), 1);
}

TEST(Cp866, TranslatesToUtf8) {
  std::string Out;
  AppendCp866AsUtf8(Out, 0xFE);
  EXPECT_EQ(Out, "\xE2\x96\xA0");  // the bullet
  Out.clear();
  AppendCp866AsUtf8(Out, 0x80);
  AppendCp866AsUtf8(Out, 0xF1);
  AppendCp866AsUtf8(Out, 'A');
  EXPECT_EQ(Out, "\xD0\x90\xD1\x91" "A");
}

}  // namespace
}  // namespace kelvane
