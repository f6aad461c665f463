#include "app/control_file.h"

#include <algorithm>
#include <vector>

#include "msgbase/address.h"
#include "runtime/case866.h"
#include "text/control_reader.h"
#include "text/regexp.h"

namespace kelvane {

const char* const ControlKeywords[ckCount] = {
    "FastEchoConfig", "FromName", "FromAddr", "ToName",     "ToAddr",
    "Subject",        "MatchStr", "StopScanAfter", "RemoveBase", "IfFEBusy",
    "MarkRequests",
};

const char AnySenderWarning[] = "no FromName or FromAddr: requests from anyone are accepted";

namespace {

void AddUpperCased(const tControlReader& R, tControlKeyword K, tSortedStrings& Set) {
  for (size_t I = 0; I < R.ValueCount(K); ++I) Set.Insert(UpperCase866(R.Value(K, static_cast<long>(I)).View()));
}

// A number of an address: digits only, at most 65535.
bool AddressNumber(std::string_view Text, uint16_t& Number) {
  long long Value = 0;
  if (Text.empty() || Text.size() > 5 || Text.find_first_not_of("0123456789") != std::string_view::npos) return false;
  if (!StrToInt(Text, Value) || Value > 65535) return false;
  Number = static_cast<uint16_t>(Value);
  return true;
}

// A yes/no switch: its first value, Default when it has none or another
// word (which is reported with What, the meaning of that default).
template <typename tReport>
bool Switch(const tControlReader& R, tControlKeyword K, bool Default, std::string_view What, tReport&& Report) {
  if (R.ValueCount(K) == 0) return Default;
  tShortString Word = UpperCase866(R.Value(K, 0).View());
  if (Word == "YES") return true;
  if (Word == "NO") return false;
  Report(K, 0, {ControlKeywords[K], " [", R.Value(K, 0), "]: not yes or no, ", What});
  return Default;
}

}  // namespace

bool AcceptsAnySender(const tControlSettings& Settings) {
  return Settings.FromNames.Count() == 0 && Settings.FromAddrs.Count() == 0;
}

tShortString Utf8Warning(std::string_view FileName, long Line) {
  tShortString Say = "[";
  Say.Append(FileName);
  Say.Append("] looks like UTF-8 text (from line ");
  Say.Append(IntToStr(Line).View());
  Say.Append("): its letters beyond ASCII never match code page 866 netmail");
  return Say;
}

bool LooksLikeUtf8(std::string_view Text) {
  bool High = false;
  for (size_t I = 0; I < Text.size();) {
    uint8_t B = static_cast<uint8_t>(Text[I]);
    if (B < 0x80) {
      ++I;
      continue;
    }
    High = true;
    size_t Length = B >= 0xC2 && B <= 0xDF ? 2 : B >= 0xE0 && B <= 0xEF ? 3 : B >= 0xF0 && B <= 0xF4 ? 4 : 0;
    if (Length == 0 || I + Length > Text.size()) return false;
    for (size_t K = 1; K < Length; ++K)
      if ((static_cast<uint8_t>(Text[I + K]) & 0xC0) != 0x80) return false;
    I += Length;
  }
  return High;
}

bool ControlAddress(std::string_view Value, tShortString& Address, const char*& Why) {
  if (Value.find('@') != std::string_view::npos) {
    Why = "an address with a domain, which netmail addresses never carry";
    return false;
  }
  // zone:net/node or zone:net/node.point, nothing more.
  Why = "not an address (zone:net/node or zone:net/node.point)";
  const size_t Colon = Value.find(':'), Slash = Value.find('/');
  if (Colon == std::string_view::npos || Slash == std::string_view::npos || Slash < Colon) return false;
  std::string_view NodePoint = Value.substr(Slash + 1);
  const size_t Dot = NodePoint.find('.');
  uint16_t Zone = 0, Net = 0, Node = 0, Point = 0;
  if (!AddressNumber(Value.substr(0, Colon), Zone) || !AddressNumber(Value.substr(Colon + 1, Slash - Colon - 1), Net) ||
      !AddressNumber(NodePoint.substr(0, Dot), Node) ||
      (Dot != std::string_view::npos && !AddressNumber(NodePoint.substr(Dot + 1), Point)))
    return false;
  Address = AddrStr(Zone, Net, Node, Point);
  return true;
}

tShortString NormalizeAddress(std::string_view Text) {
  // The point is the fourth word of zone:net/node.point@domain.
  long long Point = 0;
  if (!StrToInt(ExtractWord(4, Text, AddrDelims).View(), Point)) Point = 0;
  size_t Dot = Text.find('.');
  if (Point == 0 && Dot != std::string_view::npos) return tShortString(Text.substr(0, Dot));
  return tShortString(Text);
}

bool LoadControlFile(std::string_view FileName, tControlSettings& Settings, tCollection<tWrongLine>& WrongLines) {
  tControlReader R;
  for (const char* K : ControlKeywords) R.AddKeyword(K);
  if (R.Read(FileName)) return true;

  std::vector<tWrongLine> Wrong;
  for (size_t I = 0; I < R.WrongLineCount(); ++I) {
    // A misspelt keyword is named, or a sysop may read past it.
    tShortString Text = R.WrongLineText(static_cast<long>(I));
    tWrongLine W{R.WrongLine(static_cast<long>(I)), {}};
    if (Text.Empty()) {
      W.Reason = "nothing is left once its macros are expanded";
    } else {
      W.Reason = "unknown keyword [";
      W.Reason.Append(ExtractWord(1, Text.View(), " \t").View());
      W.Reason.Append("]");
    }
    Wrong.push_back(W);
  }
  auto Report = [&](tControlKeyword K, long Index, std::initializer_list<std::string_view> Parts) {
    tWrongLine W{R.ValueLine(K, Index), {}};
    for (std::string_view P : Parts) W.Reason.Append(P);
    Wrong.push_back(W);
  };
  // A value that cannot be an address is reported and places no condition.
  auto AddAddresses = [&](tControlKeyword K, tSortedStrings& Set) {
    for (size_t I = 0; I < R.ValueCount(K); ++I) {
      const long Index = static_cast<long>(I);
      tShortString Address;
      const char* Why = "";
      if (ControlAddress(R.Value(K, Index).View(), Address, Why))
        Set.Insert(Address);
      else
        Report(K, Index, {ControlKeywords[K], " [", R.Value(K, Index), "]: ", Why, ", ignored"});
    }
  };

  // A file name ends at its first NUL, as the system will read it: the
  // name that is printed must be the name that is used.
  Settings.ConfigPath = R.Value(ckFastEchoConfig, 0);
  Settings.ConfigPath.Truncate(Settings.ConfigPath.Find('\0'));
  AddUpperCased(R, ckFromName, Settings.FromNames);
  AddAddresses(ckFromAddr, Settings.FromAddrs);
  AddUpperCased(R, ckToName, Settings.ToNames);
  AddAddresses(ckToAddr, Settings.ToAddrs);
  AddUpperCased(R, ckSubject, Settings.Subjects);
  AddUpperCased(R, ckStopScanAfter, Settings.StopStrings);

  // "pattern | template": words between runs of "|"; the two lists stay
  // parallel, so an empty pattern or template is kept too. A pair that can
  // never name an area is reported once, here, rather than failing quietly
  // on every line of every request.
  for (size_t I = 0; I < R.ValueCount(ckMatchStr); ++I) {
    const long Index = static_cast<long>(I);
    tShortString Value = R.Value(ckMatchStr, Index);
    tShortString Pattern(TrimValue(ExtractWord(1, Value.View(), "|").View()));
    tShortString Template(TrimValue(ExtractWord(2, Value.View(), "|").View()));
    Settings.MatchPatterns.Append(Pattern);
    Settings.MatchTemplates.Append(Template);
    tRegExp Compiled;
    if (Pattern.Empty())
      Report(ckMatchStr, Index, {"MatchStr: no pattern"});
    else if (Compiled.Init(Pattern.CStr()))
      Report(ckMatchStr, Index, {"MatchStr [", Pattern, "]: ", Compiled.ErrorText});
    else if (Template.Empty())
      Report(ckMatchStr, Index, {"MatchStr [", Pattern, "]: no template"});
  }

  // A word other than yes or no keeps the bases, though none means yes.
  Settings.RemoveBase =
      Switch(R, ckRemoveBase, false, "bases are kept", Report) || R.ValueCount(ckRemoveBase) == 0;
  Settings.MarkRequests = Switch(R, ckMarkRequests, false, "requests are not marked", Report);

  tShortString IfFEBusy = UpperCase866(R.Value(ckIfFEBusy, 0).View());
  if (IfFEBusy == "QUIT")
    Settings.IfFEBusy = febQuit;
  else if (IfFEBusy == "POHER")
    Settings.IfFEBusy = febPoher;
  else
    Settings.IfFEBusy = febWait;
  if (R.ValueCount(ckIfFEBusy) > 0 && IfFEBusy != "WAIT" && IfFEBusy != "QUIT" && IfFEBusy != "POHER")
    Report(ckIfFEBusy, 0, {"IfFEBusy [", R.Value(ckIfFEBusy, 0), "]: not wait, quit or poher, wait is used"});

  // Netmail is code page 866: a value in UTF-8 never matches it.
  Settings.Utf8Line = 0;
  for (tControlKeyword K : {ckFromName, ckFromAddr, ckToName, ckToAddr, ckSubject, ckMatchStr, ckStopScanAfter})
    for (long I = 0; I < static_cast<long>(R.ValueCount(K)); ++I) {
      const long Line = R.ValueLine(K, I);
      if (LooksLikeUtf8(R.Value(K, I).View()) && (Settings.Utf8Line == 0 || Line < Settings.Utf8Line))
        Settings.Utf8Line = Line;
    }

  std::stable_sort(Wrong.begin(), Wrong.end(), [](const tWrongLine& A, const tWrongLine& B) { return A.Line < B.Line; });
  for (const tWrongLine& W : Wrong) WrongLines.Append(W);
  return false;
}

}  // namespace kelvane
