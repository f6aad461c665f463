#include "runtime/short_string.h"

#include "runtime/case866.h"
#include "runtime/collection.h"

namespace kelvane {

tShortString IntToStr(long long Value) {
  // Digits from the right end of the buffer leftwards, then one copy.
  char Buf[24];
  char* P = Buf + sizeof Buf;
  unsigned long long U = Value < 0 ? 0ULL - static_cast<unsigned long long>(Value) : static_cast<unsigned long long>(Value);
  do {
    *--P = static_cast<char>('0' + U % 10);
    U /= 10;
  } while (U);
  if (Value < 0) *--P = '-';
  return tShortString(P, static_cast<size_t>(Buf + sizeof Buf - P));
}

bool StrToInt(std::string_view Text, long long& Value) {
  Value = 0;
  size_t I = 0;
  while (I < Text.size() && Text[I] == ' ') ++I;
  bool Negative = false;
  if (I < Text.size() && (Text[I] == '-' || Text[I] == '+')) Negative = Text[I++] == '-';
  if (I >= Text.size()) return false;
  unsigned long long Acc = 0;
  for (; I < Text.size(); ++I) {
    char C = Text[I];
    if (C < '0' || C > '9') return false;
    Acc = Acc * 10 + static_cast<unsigned>(C - '0');
    if (Acc > 0x7FFFFFFFFFFFULL) return false;  // far beyond any field
  }
  Value = Negative ? -static_cast<long long>(Acc) : static_cast<long long>(Acc);
  return true;
}

std::string_view TrimBlanks(std::string_view Text) {
  size_t B = 0, E = Text.size();
  while (B < E && (Text[B] == ' ' || Text[B] == '\t')) ++B;
  while (E > B && (Text[E - 1] == ' ' || Text[E - 1] == '\t')) --E;
  return Text.substr(B, E - B);
}

tShortString UpperCase866(std::string_view Text) {
  tShortString R(Text);
  for (size_t I = 0; I < R.Length(); ++I) R[I] = UpperCase866(R[I]);
  return R;
}

tShortString LowerCase866(std::string_view Text) {
  tShortString R(Text);
  for (size_t I = 0; I < R.Length(); ++I) R[I] = LowerCase866(R[I]);
  return R;
}

bool SameText866(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) return false;
  for (size_t I = 0; I < A.size(); ++I)
    if (UpperCase866(A[I]) != UpperCase866(B[I])) return false;
  return true;
}

size_t tSortedStrings::LowerBound(std::string_view Text) const {
  size_t Lo = 0, Hi = Items_.Count();
  while (Lo < Hi) {
    size_t Mid = Lo + (Hi - Lo) / 2;
    if (CompareBytes(Items_[Mid].View(), Text) < 0)
      Lo = Mid + 1;
    else
      Hi = Mid;
  }
  return Lo;
}

bool tSortedStrings::Insert(const tShortString& Text) {
  size_t At = LowerBound(Text.View());
  if (At < Items_.Count() && Items_[At].View() == Text.View()) return false;
  Items_.Insert(At, Text);
  return true;
}

long tSortedStrings::Search(std::string_view Text) const {
  size_t At = LowerBound(Text);
  if (At < Items_.Count() && Items_[At].View() == Text) return static_cast<long>(At);
  return -1;
}

bool tSortedStrings::Contains(std::string_view Text) const { return Search(Text) >= 0; }

}  // namespace kelvane
