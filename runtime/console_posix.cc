// The console on POSIX: an ANSI terminal when standard output is one,
// plain text otherwise. All output is UTF-8; the system's text is code page
// 866 and is translated byte by byte on the way out.
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <memory>

#include "runtime/console.h"

namespace kelvane {

namespace {

void WriteAll(std::string_view Out) {
  size_t Done = 0;
  while (Done < Out.size()) {
    ssize_t N = ::write(STDOUT_FILENO, Out.data() + Done, Out.size() - Done);
    if (N < 0 && errno == EINTR) continue;
    if (N <= 0) return;  // nowhere to write: the output is lost, the run goes on
    Done += static_cast<size_t>(N);
  }
}

}  // namespace

std::string_view PlainRowEnd() { return "\n"; }

void WriteStdoutRaw(std::string_view Bytes) { WriteAll(Bytes); }

void WriteStdout(std::string_view Bytes) {
  std::string Out;
  Out.reserve(Bytes.size() + 16);
  for (char Ch : Bytes) AppendCp866AsUtf8(Out, static_cast<uint8_t>(Ch));
  WriteAll(Out);
}

bool ShowsUtf8() { return true; }

tConsole* NewProcessConsole() {
  // A reader that goes away (kelvane | head, a pager quit early) must not
  // end the process half-way through its work: with SIGPIPE ignored a write
  // to the closed pipe fails with EPIPE, that output is lost, and the run
  // goes on to its end and its exit code. Windows has no such signal.
  std::signal(SIGPIPE, SIG_IGN);
  if (::isatty(STDOUT_FILENO)) {
    struct winsize Ws {};
    int W = 80, H = 25;
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &Ws) == 0 && Ws.ws_col > 0 && Ws.ws_row > 0) {
      W = Ws.ws_col;
      H = Ws.ws_row;
    }
    static tAnsiConsole Ansi(W, H);
    return &Ansi;
  }
  static tPlainConsole Plain;
  return &Plain;
}

}  // namespace kelvane
