// Fuzz target for the control-file reader: any bytes as a control file,
// read with the ten keywords kelvane registers. The reader must end cleanly,
// and what it keeps must be what a line can give: values that are non-empty,
// at most 255 bytes, free of ";" and of quotes at their ends, each from a
// line of its own within the file, and wrong line numbers that rise and stay
// within the file.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "app/control_file.h"
#include "runtime/clock.h"
#include "runtime/stream.h"
#include "text/control_reader.h"

namespace {

using namespace kelvane;

// The date macros read the clock; a fixed one keeps every run the same.
class tFixedClock : public tClock {
 public:
  uint32_t Ticks() override { return 0; }
  tLocalTime Now() override {
    tLocalTime T;
    T.Year = 2026;
    T.Month = 12;
    T.Day = 31;
    T.Hour = 23;
    T.Min = 59;
    T.Sec = 58;
    return T;
  }
  void Sleep(uint32_t) override {}
};

void Check(bool Condition) {
  if (!Condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  static tFixedClock Clock;
  SetClock(&Clock);
  tControlReader R;
  for (const char* K : ControlKeywords) R.AddKeyword(K);
  tMemoryStream S;
  S.Write(Data, static_cast<uint32_t>(Size));
  S.Seek(0);
  Check(!R.ReadFrom(S));

  long Lines = 1;
  for (size_t I = 0; I < Size; ++I)
    if (Data[I] == '\r' || Data[I] == '\n') ++Lines;
  for (size_t K = 0; K < ckCount; ++K) {
    long LastLine = 0;
    for (size_t I = 0; I < R.ValueCount(static_cast<long>(K)); ++I) {
      tShortString V = R.Value(static_cast<long>(K), static_cast<long>(I));
      long Line = R.ValueLine(static_cast<long>(K), static_cast<long>(I));
      Check(Line > LastLine && Line <= Lines);
      LastLine = Line;
      Check(!V.Empty() && V.Length() <= 255);
      Check(!V.Contains(';'));
      Check(V[0] != '"' && V.Last() != '"');
      if (K == ckFromAddr || K == ckToAddr) Check(NormalizeAddress(V.View()).Length() <= V.Length());
    }
    Check(R.Value(static_cast<long>(K), static_cast<long>(R.ValueCount(static_cast<long>(K)))).Empty());
  }
  long Previous = 0;
  for (size_t I = 0; I < R.WrongLineCount(); ++I) {
    long N = R.WrongLine(static_cast<long>(I));
    Check(N > Previous && N <= Lines);
    Previous = N;
  }
  Check(R.WrongLine(static_cast<long>(R.WrongLineCount())) == -1);
  SetClock(nullptr);
  return 0;
}
