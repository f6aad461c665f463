// tShortString: the system's string type. Text inside kelvane is bytes in
// code page 866, never UTF-8, and every string the system keeps holds at most
// 255 bytes; a longer result is cut. Holding the text in a fixed 256-byte
// array makes the 255-byte rule hold by construction and keeps strings off
// the heap, so they never show in the memory report.
#ifndef KELVANE_RUNTIME_SHORT_STRING_H_
#define KELVANE_RUNTIME_SHORT_STRING_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace kelvane {

// Byte-wise comparison, unsigned bytes; a prefix sorts before the longer string.
inline int CompareBytes(std::string_view A, std::string_view B) {
  size_t N = A.size() < B.size() ? A.size() : B.size();
  int R = N ? std::memcmp(A.data(), B.data(), N) : 0;
  if (R != 0) return R < 0 ? -1 : 1;
  if (A.size() == B.size()) return 0;
  return A.size() < B.size() ? -1 : 1;
}

class tShortString {
 public:
  static constexpr size_t MaxLength = 255;

  tShortString() { Data_[0] = 0; }
  tShortString(const char* Text) { Assign(Text ? std::string_view(Text) : std::string_view()); }
  tShortString(std::string_view Text) { Assign(Text); }
  tShortString(const std::string& Text) { Assign(std::string_view(Text)); }
  tShortString(const char* Text, size_t Count) { Assign(std::string_view(Text, Count)); }

  tShortString& operator=(std::string_view Text) { Assign(Text); return *this; }
  tShortString& operator=(const char* Text) { Assign(Text ? std::string_view(Text) : std::string_view()); return *this; }

  // Replaces the contents; text past 255 bytes is cut.
  void Assign(std::string_view Text) {
    size_t N = Text.size() < MaxLength ? Text.size() : MaxLength;
    if (N) std::memmove(Data_, Text.data(), N);
    Length_ = static_cast<uint8_t>(N);
    Data_[N] = 0;
  }

  size_t Length() const { return Length_; }
  size_t size() const { return Length_; }
  bool Empty() const { return Length_ == 0; }
  bool empty() const { return Length_ == 0; }
  const char* Data() const { return reinterpret_cast<const char*>(Data_); }
  const char* CStr() const { return reinterpret_cast<const char*>(Data_); }
  char* MutableData() { return reinterpret_cast<char*>(Data_); }
  std::string_view View() const { return std::string_view(Data(), Length_); }
  operator std::string_view() const { return View(); }
  std::string ToStdString() const { return std::string(Data(), Length_); }

  // Unsigned byte at position I (0-based). No bounds check beyond the array.
  uint8_t Byte(size_t I) const { return Data_[I]; }
  char operator[](size_t I) const { return static_cast<char>(Data_[I]); }
  char& operator[](size_t I) { return reinterpret_cast<char&>(Data_[I]); }
  char Last() const { return Length_ ? static_cast<char>(Data_[Length_ - 1]) : '\0'; }

  void Clear() { Length_ = 0; Data_[0] = 0; }
  // Shortens to N bytes (no effect when already shorter).
  void Truncate(size_t N) {
    if (N < Length_) { Length_ = static_cast<uint8_t>(N); Data_[N] = 0; }
  }
  // Appending past 255 bytes drops what does not fit.
  tShortString& Append(std::string_view Text) {
    size_t Room = MaxLength - Length_;
    size_t N = Text.size() < Room ? Text.size() : Room;
    if (N) std::memmove(Data_ + Length_, Text.data(), N);
    Length_ = static_cast<uint8_t>(Length_ + N);
    Data_[Length_] = 0;
    return *this;
  }
  tShortString& Append(char C) {
    if (Length_ < MaxLength) { Data_[Length_++] = static_cast<uint8_t>(C); Data_[Length_] = 0; }
    return *this;
  }
  tShortString& operator+=(std::string_view Text) { return Append(Text); }
  tShortString& operator+=(const char* Text) { return Append(std::string_view(Text)); }
  tShortString& operator+=(const tShortString& Text) { return Append(Text.View()); }
  tShortString& operator+=(char C) { return Append(C); }

  // Removes Count bytes starting at Pos (clipped to the string).
  void Erase(size_t Pos, size_t Count = MaxLength) {
    if (Pos >= Length_) return;
    if (Count > Length_ - Pos) Count = Length_ - Pos;
    std::memmove(Data_ + Pos, Data_ + Pos + Count, Length_ - Pos - Count);
    Length_ = static_cast<uint8_t>(Length_ - Count);
    Data_[Length_] = 0;
  }
  // Inserts Text at Pos; the result is cut to 255 bytes.
  void Insert(size_t Pos, std::string_view Text) {
    if (Pos > Length_) Pos = Length_;
    std::string Tmp(View().substr(0, Pos));
    Tmp.append(Text);
    Tmp.append(View().substr(Pos));
    Assign(Tmp);
  }

  tShortString Sub(size_t Pos, size_t Count = MaxLength) const {
    if (Pos >= Length_) return tShortString();
    return tShortString(View().substr(Pos, Count));
  }
  // Byte position of the first occurrence, or npos.
  size_t Find(std::string_view Needle, size_t From = 0) const { return View().find(Needle, From); }
  size_t Find(char C, size_t From = 0) const { return View().find(C, From); }
  size_t FindLast(char C) const { return View().rfind(C); }
  bool Contains(std::string_view Needle) const { return View().find(Needle) != std::string_view::npos; }
  bool Contains(char C) const { return View().find(C) != std::string_view::npos; }
  bool StartsWith(std::string_view Prefix) const { return View().substr(0, Prefix.size()) == Prefix; }
  bool EndsWith(std::string_view Suffix) const {
    return Length_ >= Suffix.size() && View().substr(Length_ - Suffix.size()) == Suffix;
  }

  static constexpr size_t npos = std::string_view::npos;

  // Hidden friends: found only when a tShortString takes part, so that a
  // comparison of a std::string_view with a literal stays unambiguous.
  friend bool operator==(const tShortString& A, const tShortString& B) { return A.View() == B.View(); }
  friend bool operator==(const tShortString& A, std::string_view B) { return A.View() == B; }
  friend bool operator==(const tShortString& A, const char* B) { return A.View() == std::string_view(B); }
  friend bool operator==(const tShortString& A, const std::string& B) { return A.View() == std::string_view(B); }
  friend bool operator!=(const tShortString& A, const tShortString& B) { return !(A == B); }
  friend bool operator!=(const tShortString& A, std::string_view B) { return !(A == B); }
  friend bool operator!=(const tShortString& A, const char* B) { return !(A == B); }
  friend bool operator<(const tShortString& A, const tShortString& B) { return CompareBytes(A.View(), B.View()) < 0; }

 private:
  uint8_t Length_ = 0;
  uint8_t Data_[MaxLength + 1];
};


inline tShortString operator+(const tShortString& A, std::string_view B) {
  tShortString R(A);
  R.Append(B);
  return R;
}
inline tShortString operator+(const tShortString& A, const char* B) { return A + std::string_view(B); }
inline tShortString operator+(const tShortString& A, const tShortString& B) { return A + B.View(); }
inline tShortString operator+(std::string_view A, const tShortString& B) {
  tShortString R(A);
  R.Append(B.View());
  return R;
}
inline tShortString operator+(const char* A, const tShortString& B) { return std::string_view(A) + B; }
inline tShortString operator+(const tShortString& A, char C) {
  tShortString R(A);
  R.Append(C);
  return R;
}

// Decimal text of a signed or unsigned number, no leading zeros.
tShortString IntToStr(long long Value);
// Parses a decimal number the way the system reads numbers from words:
// leading blanks allowed, an optional sign, then digits to the end.
// Returns false (and Value 0) when the text is not wholly a number.
bool StrToInt(std::string_view Text, long long& Value);
// Blanks and tabs removed at both ends.
std::string_view TrimBlanks(std::string_view Text);

}  // namespace kelvane

#endif  // KELVANE_RUNTIME_SHORT_STRING_H_
