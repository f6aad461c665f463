#include "app/markup.h"

#include "runtime/case866.h"
#include "runtime/console.h"

namespace kelvane {

int32_t MarkupCodeValue(std::string_view Code) {
  static constexpr std::string_view Digits = "0123456789abcdefghijklmnopqrstuvwxyz";
  uint32_t Value = 0;  // unsigned so that overflow wraps as 32-bit arithmetic does
  for (char Ch : Code) {
    size_t D = Digits.find(LowerCase866(Ch));
    int32_t Digit = D == std::string_view::npos ? -1 : static_cast<int32_t>(D);
    Value = Value * 16u + static_cast<uint32_t>(Digit);
  }
  return static_cast<int32_t>(Value);
}

tShortString MarkupData(std::string_view Data) {
  tShortString Out;
  for (char Ch : Data) {
    if (Ch != '~')
      Out.Append(Ch);
    else if (Out.Length() + 2 <= tShortString::MaxLength)
      Out.Append("~~");
    else
      break;
    if (Out.Length() == tShortString::MaxLength) break;
  }
  return Out;
}

void WriteMarkup(tConsole& To, std::string_view Text) {
  const uint8_t Saved = To.TextAttribute;
  while (!Text.empty()) {
    if (Text.front() != '~') {
      size_t Tilde = Text.find('~');
      To.Write(Text.substr(0, Tilde));
      Text.remove_prefix(Tilde == std::string_view::npos ? Text.size() : Tilde);
    }
    // Every pair in a run is one literal tilde, so that data with its
    // tildes doubled (MarkupData) shows as it is even where two stood
    // together; one pair and then a code, as in "~~~0C~", reads as before.
    while (Text.size() >= 2 && Text[0] == '~' && Text[1] == '~') {
      To.Write("~");
      Text.remove_prefix(2);
    }
    if (!Text.empty() && Text.front() == '~') {
      Text.remove_prefix(1);
      size_t Close = Text.find('~');
      if (Close == std::string_view::npos) {
        // An unclosed code: black on black for the rest, which stays text.
        To.TextAttribute = 0;
      } else {
        To.TextAttribute = static_cast<uint8_t>(MarkupCodeValue(Text.substr(0, Close)) & 0xFF);
        Text.remove_prefix(Close + 1);
      }
    }
  }
  To.TextAttribute = Saved;
}

void WriteMarkup(std::string_view Text) { WriteMarkup(Console(), Text); }

}  // namespace kelvane
