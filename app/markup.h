// Status lines with inline colour codes. "~XX~" sets the text attribute to
// the hexadecimal XX for what follows, "~~" writes one tilde; the attribute
// in force before the call is restored at its end, so plain writes always
// use the start-up attribute.
#ifndef KELVANE_APP_MARKUP_H_
#define KELVANE_APP_MARKUP_H_

#include <cstdint>
#include <string_view>

#include "runtime/short_string.h"

namespace kelvane {

class tConsole;

// Writes Text to the console, interpreting markup; adds no line end.
void WriteMarkup(std::string_view Text);
void WriteMarkup(tConsole& To, std::string_view Text);

// Data (a file name, a tag, a value from a file) as it must stand inside
// markup text to be shown as it is: every "~" doubled. A "~" that does not
// fit in 255 bytes as a pair is dropped, never left single, so a cut text
// still cannot start a colour code.
tShortString MarkupData(std::string_view Data);

// The number a colour code stands for: each byte is a digit of base 16
// whose value is its place in "0123456789abcdefghijklmnopqrstuvwxyz" after
// lower-casing (so "g" to "z" give 16 to 35, anything else -1), summed in
// signed 32-bit arithmetic. Only the low 8 bits become the attribute.
int32_t MarkupCodeValue(std::string_view Code);

}  // namespace kelvane

#endif  // KELVANE_APP_MARKUP_H_
