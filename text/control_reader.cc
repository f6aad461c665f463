#include "text/control_reader.h"

#include "runtime/case866.h"
#include "runtime/file_system.h"

namespace kelvane {

namespace {

bool IsBlank(char C) { return C == ' ' || C == '\t'; }

// Word Index (from 0) of Text: the pieces between runs of blanks and tabs.
std::string_view BlankWord(std::string_view Text, size_t Index) {
  size_t I = 0;
  for (;;) {
    while (I < Text.size() && IsBlank(Text[I])) ++I;
    size_t Start = I;
    while (I < Text.size() && !IsBlank(Text[I])) ++I;
    if (Start == I) return std::string_view();
    if (Index-- == 0) return Text.substr(Start, I - Start);
  }
}

// True when Text begins with Name in any case and its first word is exactly
// as long as Name.
bool StartsWithWord(std::string_view Text, std::string_view Name) {
  if (Name.empty() || Text.size() < Name.size()) return false;
  if (!SameText866(Text.substr(0, Name.size()), Name)) return false;
  return Text.size() == Name.size() || IsBlank(Text[Name.size()]);
}

constexpr std::string_view DefineWord = "@Define";

}  // namespace

std::string_view TrimValue(std::string_view Text) {
  Text = TrimBlanks(Text);
  size_t B = 0, E = Text.size();
  while (B < E && Text[B] == '"') ++B;
  while (E > B && Text[E - 1] == '"') --E;
  return Text.substr(B, E - B);
}

void tControlReader::AddKeyword(std::string_view Name) { Keywords_.Append(tKeyword{tShortString(Name), {}, {}}); }

bool tControlReader::Read(std::string_view FileName) {
  if (!FileExists(FileName) || Keywords_.Empty()) return true;
  tBufStream File(FileName, fmOpen | fmRead | fmDenyNone);
  if (File.Status != stOk) return true;
  return ReadFrom(File);
}

bool tControlReader::ReadFrom(tStream& Source) {
  if (Keywords_.Empty()) return true;
  WrongLines_.Clear();
  WrongTexts_.Clear();
  int64_t Left = Source.GetSize() - Source.GetPos();
  if (Source.Status != stOk) return true;

  char Buf[4096];
  tShortString Line;
  long Number = 0;
  bool InLine = false;      // bytes seen since the last line end
  bool AfterCR = false;     // the last byte was a CR: an LF now ends nothing
  size_t EndMarks = 0;      // 0x1A bytes not yet known to be text
  while (Left > 0) {
    uint32_t Want = Left < static_cast<int64_t>(sizeof Buf) ? static_cast<uint32_t>(Left) : sizeof Buf;
    uint32_t Got = Source.Read(Buf, Want);
    if (Source.Status != stOk || Got != Want) return true;
    Left -= Got;
    for (uint32_t I = 0; I < Got; ++I) {
      char C = Buf[I];
      // 0x1A bytes are held back until a byte that is not one follows:
      // only then are they text, and at the end of the file they are
      // dropped.
      if (C == '\x1A') {
        ++EndMarks;
        continue;
      }
      for (; EndMarks > 0; --EndMarks) {
        Line.Append('\x1A');
        InLine = true;
        AfterCR = false;
      }
      if (C == '\n' && AfterCR) {
        AfterCR = false;
        continue;
      }
      AfterCR = C == '\r';
      if (C == '\r' || C == '\n') {
        ProcessLine(++Number, Line);
        Line.Clear();
        InLine = false;
        continue;
      }
      Line.Append(C);  // past 255 bytes the rest of the line is dropped
      InLine = true;
    }
  }
  if (InLine) ProcessLine(++Number, Line);
  return false;
}

void tControlReader::ProcessLine(long Number, tShortString Line) {
  size_t Semicolon = Line.Find(';');
  if (Semicolon != tShortString::npos) Line.Truncate(Semicolon);
  Line = TrimBlanks(Line.View());
  bool Handled = Line.Empty();
  Macros_.Expand(Line);

  if (StartsWithWord(Line.View(), DefineWord)) {
    // The keyword and the separator after it go; the first word of the rest
    // names the macro and the second is its value.
    std::string_view Rest = Line.View().substr(Line.Length() > DefineWord.size() ? DefineWord.size() + 1 : Line.Length());
    if (!Rest.empty()) Macros_.Define(BlankWord(Rest, 0), BlankWord(Rest, 1));
    Handled = true;
  }

  if (!Handled && !Line.Empty()) {
    for (tKeyword& K : Keywords_) {
      if (!StartsWithWord(Line.View(), K.Name.View())) continue;
      std::string_view Rest = Line.View().substr(Line.Length() > K.Name.Length() ? K.Name.Length() + 1 : Line.Length());
      std::string_view Value = TrimValue(Rest);
      if (!Value.empty()) {
        K.Values.Append(tShortString(Value));
        K.Lines.Append(Number);
      }
      Handled = true;
      break;
    }
  }
  if (!Handled) {
    WrongLines_.Append(Number);
    WrongTexts_.Append(Line);
  }
}

size_t tControlReader::ValueCount(long Keyword) const {
  if (Keyword < 0 || static_cast<size_t>(Keyword) >= Keywords_.Count()) return 0;
  return Keywords_[static_cast<size_t>(Keyword)].Values.Count();
}

tShortString tControlReader::Value(long Keyword, long Index) const {
  if (Index < 0 || static_cast<size_t>(Index) >= ValueCount(Keyword)) return tShortString();
  return Keywords_[static_cast<size_t>(Keyword)].Values[static_cast<size_t>(Index)];
}

long tControlReader::ValueLine(long Keyword, long Index) const {
  if (Index < 0 || static_cast<size_t>(Index) >= ValueCount(Keyword)) return -1;
  return Keywords_[static_cast<size_t>(Keyword)].Lines[static_cast<size_t>(Index)];
}

long tControlReader::WrongLine(long Index) const {
  if (Index < 0 || static_cast<size_t>(Index) >= WrongLines_.Count()) return -1;
  return WrongLines_[static_cast<size_t>(Index)];
}

tShortString tControlReader::WrongLineText(long Index) const {
  if (Index < 0 || static_cast<size_t>(Index) >= WrongTexts_.Count()) return tShortString();
  return WrongTexts_[static_cast<size_t>(Index)];
}

}  // namespace kelvane
