// The netmail the message-base benchmarks read and write: an area manager
// request with kludges, a body of twenty lines, tear and origin lines and
// two Via lines, about 1.3 KB a message.
#ifndef KELVANE_BENCH_REQUESTS_H_
#define KELVANE_BENCH_REQUESTS_H_

#include <string>

#include "msgbase/message.h"

namespace kelvane {

// Request N (they differ in the point, the MSGID and the seconds).
inline void FillRequest(tMessage& M, int N) {
  M.Clear();
  M.From = "Ivan Petrov";
  M.To = "AreaFix";
  M.Subject = "password";
  M.DateWritten = tDateTime{2026, 12, 7, 19, 5, N % 60};
  M.OrigZone = 2, M.OrigNet = 5020, M.OrigNode = 2, M.OrigPoint = static_cast<uint16_t>(N % 100);
  M.DestZone = 2, M.DestNet = 5020, M.DestNode = 1, M.DestPoint = 0;
  M.Intl = "2:5020/1 2:5020/2";
  M.MsgId = tShortString("2:5020/2." + std::to_string(N % 100) + " 1a2b3c4d");
  M.Pid = "GoldED+/LNX 1.1.5";
  M.Kludges.Append("\x01" "CHRS: CP866 2");
  M.Kludges.Append("\x01" "TZUTC: 0300");
  for (int L = 0; L < 20; ++L) M.Text.WriteStr("-ECHO.AREA." + std::to_string(L) + " please remove this one\r");
  M.TearLine = " GoldED+/LNX 1.1.5";
  M.AddTearLine = 1;
  M.Origin = "A point somewhere in the net ";
  M.AddOrigin = 1;
  M.RouteLines.Append("\x01" "Via 2:5020/2 @20261207.190508 tosser");
  M.RouteLines.Append("\x01" "Via 2:5020/1 @20261207.190510 tosser");
}

}  // namespace kelvane

#endif  // KELVANE_BENCH_REQUESTS_H_
