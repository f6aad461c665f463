// The macro layer of the control-file reader. A control file names the same
// hub address or path on many lines; "@Define" gives it a name once, and the
// seven date and time macros let a line depend on the day the program runs.
// Every line is expanded before the reader looks at it.
#ifndef KELVANE_TEXT_MACRO_ENGINE_H_
#define KELVANE_TEXT_MACRO_ENGINE_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "runtime/collection.h"
#include "runtime/short_string.h"

namespace kelvane {

struct tMacro {
  tShortString Name;
  tShortString Value;  // may be empty
};

// While a line is expanded it may grow far beyond 255 bytes (a macro whose
// value holds another macro's name many times); the working text is capped
// at this many bytes and the result is cut to 255.
constexpr size_t MacroWorkLimit = 65535;

class tMacroEngine {
 public:
  // Defines the date and time macros from the local time of this moment
  // (through the clock, so tests can fix it); they are not refreshed later.
  tMacroEngine();

  // Defines Name, or gives an existing macro of the same name (in any case)
  // the new Value while it keeps its place in the list. An empty name
  // defines nothing.
  void Define(std::string_view Name, std::string_view Value);

  // Replaces the macros in Text. Each macro in list order replaces its
  // occurrences in the whole working text, found in any case as plain
  // substrings, left to right; a value inserted by one macro is scanned by
  // the later macros only. An occurrence right after an "@" is an escape
  // (the "@" goes, the name stays) unless that "@" is where this macro's
  // previous replacement began.
  void Expand(tShortString& Text) const;

  size_t Count() const { return Macros_.Count(); }
  const tMacro& At(size_t Index) const { return Macros_[Index]; }

 private:
  void ReplaceAll(std::string& Work, const tMacro& M) const;
  tCollection<tMacro> Macros_;
};

}  // namespace kelvane

#endif  // KELVANE_TEXT_MACRO_ENGINE_H_
