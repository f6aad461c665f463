// The reader of line-oriented keyword files, through which kelvane reads its
// control file. The caller registers the keywords it understands; one pass
// over the file collects, for each keyword, the values of the lines that
// begin with it, and the numbers of the lines that no keyword took, so the
// caller can report them. Every line goes through the macro engine first.
//
// Line syntax: ";" starts a comment wherever it stands (so no value holds a
// ";"); blanks and tabs at both ends are ignored; "@Define NAME VALUE"
// defines a macro for the lines below it; "KEYWORD value" records value with
// blanks and then double quotes removed at both ends. Lines end with CR LF,
// LF or CR; a last line without a line end is a line too. A line longer than
// 255 bytes is cut to 255. The end-of-file bytes (0x1A) a DOS editor leaves
// as the last bytes of a file end it; anywhere else they are text.
#ifndef KELVANE_TEXT_CONTROL_READER_H_
#define KELVANE_TEXT_CONTROL_READER_H_

#include <cstddef>
#include <string_view>

#include "runtime/collection.h"
#include "runtime/short_string.h"
#include "runtime/stream.h"
#include "text/macro_engine.h"

namespace kelvane {

// Blanks and tabs, then every double quote, removed at both ends: how a
// keyword's value is taken from the rest of its line.
std::string_view TrimValue(std::string_view Text);

struct tKeyword {
  tShortString Name;
  tStringList Values;       // one per matching line with a value, in file order
  tCollection<long> Lines;  // the line number (from 1) of each value
};

class tControlReader {
 public:
  tControlReader() = default;

  // Appends a keyword; its index is the number of keywords before it.
  void AddKeyword(std::string_view Name);

  // Reads the file (mode 0x3D40: read, deny none). Returns true when it
  // does not exist, cannot be opened or read, or no keyword is registered.
  // The wrong lines are those of this file only; the keywords' values add
  // to those of an earlier Read.
  bool Read(std::string_view FileName);
  // The same over the bytes of Source from its position to its end; true
  // when Source reports an error (the lines before it are taken).
  bool ReadFrom(tStream& Source);

  // Number of values of keyword Keyword; 0 for an index out of range.
  size_t ValueCount(long Keyword) const;
  // Value Index of keyword Keyword; empty when either index is out of range.
  tShortString Value(long Keyword, long Index) const;
  // The line number (from 1) that value came from; -1 when either index is
  // out of range.
  long ValueLine(long Keyword, long Index) const;
  size_t WrongLineCount() const { return WrongLines_.Count(); }
  // Line number (from 1) of wrong line Index; -1 when out of range.
  long WrongLine(long Index) const;
  // What no keyword took of wrong line Index: the line without its comment
  // and outer blanks, macros expanded (empty when they left nothing, and
  // for an index out of range).
  tShortString WrongLineText(long Index) const;

  size_t KeywordCount() const { return Keywords_.Count(); }
  const tMacroEngine& Macros() const { return Macros_; }

 private:
  void ProcessLine(long Number, tShortString Line);

  tCollection<tKeyword> Keywords_;
  tCollection<long> WrongLines_;
  tStringList WrongTexts_;  // parallel to WrongLines_
  tMacroEngine Macros_;
};

}  // namespace kelvane

#endif  // KELVANE_TEXT_CONTROL_READER_H_
