#include "text/macro_engine.h"

#include "runtime/case866.h"
#include "runtime/clock.h"

namespace kelvane {

namespace {

const char* const MonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Position of the first occurrence of Upper (an upper-cased name) in
// Work[From, End), compared in any case; npos when there is none.
size_t FindAnyCase(const std::string& Work, size_t From, size_t End, std::string_view Upper) {
  size_t N = Upper.size();
  if (N == 0 || End < N) return std::string::npos;
  for (size_t I = From; I + N <= End; ++I) {
    if (UpperCase866(Work[I]) != Upper[0]) continue;
    size_t K = 1;
    while (K < N && UpperCase866(Work[I + K]) == Upper[K]) ++K;
    if (K == N) return I;
  }
  return std::string::npos;
}

}  // namespace

tMacroEngine::tMacroEngine() {
  tLocalTime Now = GetLocalTime();
  Define("@cSec", IntToStr(Now.Sec));
  Define("@cMin", IntToStr(Now.Min));
  Define("@cHour", IntToStr(Now.Hour));
  Define("@cDay", IntToStr(Now.Day));
  Define("@cMonth", IntToStr(Now.Month));
  Define("@cYear", IntToStr(Now.Year));
  Define("@cTextMonth", Now.Month >= 1 && Now.Month <= 12 ? MonthNames[Now.Month - 1] : "");
}

void tMacroEngine::Define(std::string_view Name, std::string_view Value) {
  if (Name.empty()) return;
  for (tMacro& M : Macros_) {
    if (SameText866(M.Name.View(), Name.substr(0, tShortString::MaxLength))) {
      M.Value = Value;
      return;
    }
  }
  Macros_.Append(tMacro{tShortString(Name), tShortString(Value)});
}

void tMacroEngine::ReplaceAll(std::string& Work, const tMacro& M) const {
  tShortString Upper = UpperCase866(M.Name.View());
  size_t N = Upper.Length();
  // The working text is Out followed by Work[Pos, End): what is already
  // scanned, then what is not. End moves in when an insertion would take the
  // whole past MacroWorkLimit, since the text beyond it is lost.
  std::string Out;
  size_t Pos = 0;
  size_t End = Work.size();
  size_t PrevStart = std::string::npos;  // where in Out the last value began
  bool Changed = false;
  for (;;) {
    size_t At = FindAnyCase(Work, Pos, End, Upper.View());
    if (At == std::string::npos) break;
    if (!Changed) {
      Out.reserve(Work.size() + 64);
      Changed = true;
    }
    Out.append(Work, Pos, At - Pos);
    Pos = At + N;
    if (!Out.empty() && Out.back() == '@' && Out.size() - 1 != PrevStart) {
      // "@NAME" keeps the name as written and loses the "@".
      Out.pop_back();
      Out.append(Work, At, N);
      continue;
    }
    PrevStart = Out.size();
    Out.append(M.Value.View());
    if (Out.size() >= MacroWorkLimit) {
      Out.resize(MacroWorkLimit);
      End = Pos;
      break;
    }
    size_t Room = MacroWorkLimit - Out.size();
    if (End - Pos > Room) End = Pos + Room;
  }
  if (!Changed) return;
  Out.append(Work, Pos, End - Pos);
  Work.swap(Out);
}

void tMacroEngine::Expand(tShortString& Text) const {
  if (Text.Empty()) return;
  std::string Work(Text.View());
  for (const tMacro& M : Macros_) ReplaceAll(Work, M);
  Text = std::string_view(Work);  // cut to 255 bytes
}

}  // namespace kelvane
