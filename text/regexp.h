// The regular expressions with which the netmail scan picks area tags out of
// request lines. A pattern is compiled into a byte program, matched with
// backtracking (leftmost match, first alternative wins), and a template is
// expanded from the match and its nine groups.
//
// The program is a byte string: the marker 0xEA, then nodes of a 1-byte kind,
// a 2-byte little-endian offset to the next node (0 = none; backwards for
// BACK, forwards for every other kind) and, for some kinds, an operand:
// a NUL-ended byte string for EXACTLY, ANYOF and ANYBUT, the first node of an
// alternative for BRANCH, one single-character node for STAR and PLUS.
//
// The texts come from whoever sends netmail to the node, so matching runs on
// a step budget: a pattern with nested repetitions must not hang the node on
// a crafted line. Past the budget the match fails with its own error text.
#ifndef KELVANE_TEXT_REGEXP_H_
#define KELVANE_TEXT_REGEXP_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/short_string.h"

namespace kelvane {

// Node kinds of the byte program.
enum class tRegNode : uint8_t {
  END = 0,       // success
  BOL = 1,       // empty string at the start of the text
  EOL = 2,       // empty string at the end of the text
  ANY = 3,       // any one character
  ANYOF = 4,     // one character of the NUL-ended set
  ANYBUT = 5,    // one character not in the set
  BRANCH = 6,    // this alternative (the operand chain), else the next BRANCH
  BACK = 7,      // empty; the offset points backwards and closes a loop
  EXACTLY = 8,   // the NUL-ended literal
  NOTHING = 9,   // empty
  STAR = 10,     // the single-character operand node, 0 or more times, greedy
  PLUS = 11,     // the same, 1 or more times
  OPEN = 20,     // OPEN + n: start of group n (1..9)
  CLOSE = 30,    // CLOSE + n: end of group n
};

constexpr uint8_t RegMagic = 0xEA;
// Group 0 is the whole match; groups 1..9 are the parentheses in order.
constexpr int RegGroups = 10;
// The program, marker included, stays below this many bytes.
constexpr size_t RegMaxProgram = 32767;
// Node visits and backtracking resumptions allowed to one Exec. A sound
// pattern on a 255-byte line needs a few thousand; nested alternatives such
// as (a|aa)*$ need billions.
constexpr long RegStepBudget = 1000000;
// Open choice points and group records held at one time during a match.
constexpr size_t RegMaxBacktrack = 131072;

class tRegExp {
 public:
  tRegExp() = default;
  tRegExp(const tRegExp&) = delete;
  tRegExp& operator=(const tRegExp&) = delete;

  // Compiles Pattern, a NUL-ended string (only its first 255 bytes are
  // read). Returns true on failure: then Program is empty and ErrorText
  // says why. A null Pattern fails with "NULL argument".
  bool Init(const char* Pattern);
  // Frees the program and the error text.
  void Done();

  // Whether the program matches somewhere in the NUL-ended Text: the
  // leftmost match, the first alternative that leads to a match winning.
  // On success the group positions point into Text, which must stay
  // unchanged until Substitute has run. False without a program, on a
  // damaged program and past the step budget (ErrorText then says which).
  bool Exec(bool CaseSensitive, const char* Text);

  // Writes the expansion of the NUL-ended Template for the last successful
  // Exec into Out (OutSize bytes, NUL included; a longer expansion is cut).
  // Returns true on failure.
  bool Substitute(const char* Template, char* Out, size_t OutSize);

  // Start and end of group N (0..9) of the last match; both null when the
  // group took no part in it.
  const char* GroupStart(int N) const { return N >= 0 && N < RegGroups ? StartP_[N] : nullptr; }
  const char* GroupEnd(int N) const { return N >= 0 && N < RegGroups ? EndP_[N] : nullptr; }

  // Search hints: the character a match must begin with (-1 when none),
  // whether the match is tied to the start of the text, and a literal every
  // match contains (empty when none is worth looking for).
  int StartChar() const { return StartChar_; }
  bool Anchored() const { return Anchored_; }
  const std::string& MustHave() const { return MustHave_; }

  // The compiled program, marker first; empty after a failed compilation.
  std::vector<uint8_t> Program;
  // The message of the last failure; empty while none occurred.
  tShortString ErrorText;
  // The case mode of the current Exec.
  bool CaseSensitive = true;
  // Steps one Exec may take; RegSubst keeps the default.
  long StepBudget = RegStepBudget;

 private:
  // One entry of the matcher's stack: a choice point to come back to, or
  // the position a group's OPEN or CLOSE saw on the path being tried.
  struct tBacktrack {
    enum tKind : uint8_t { bkOpen, bkClose, bkBranch, bkStar };
    tKind Kind;
    uint8_t Group = 0;           // bkOpen, bkClose
    int MinCount = 0;            // bkStar
    int NextCh = -1;             // bkStar: first character of a following literal
    long Node = 0;               // bkBranch: the BRANCH tried; bkStar: the node after
    long Count = 0;              // bkStar: repetitions in use
    const char* Pos = nullptr;   // input position saved
  };

  bool Fail(const char* Text);
  bool CheckProgram();
  long NextNode(long Node) const;
  bool TryAt(const char* Start);
  size_t Repeat(long Node, const char* From);
  bool SameChar(uint8_t Literal, uint8_t Text) const;
  bool LiteralAt(const uint8_t* Literal, size_t Length, const char* Text) const;

  int StartChar_ = -1;
  bool Anchored_ = false;
  std::string MustHave_;

  const char* Bol_ = nullptr;  // start of the text, for BOL
  const char* StartP_[RegGroups] = {};
  const char* EndP_[RegGroups] = {};
  long Steps_ = 0;
  bool Aborted_ = false;  // a damaged program or the budget stopped the search
  std::vector<tBacktrack> Stack_;
};

// Matches Pattern against Text and returns the expansion of Template, or
// the empty string when there is no match. An empty pattern, text or
// template gives the empty string at once. Each string counts up to its
// first NUL. The pattern is compiled on every call; a pattern that does not
// compile, or a match past the step budget, gives the empty string, and the
// reason goes to ErrorText when the caller asks for it.
tShortString RegSubst(const tShortString& Pattern, const tShortString& Text, const tShortString& Template,
                      bool CaseSensitive, tShortString* ErrorText = nullptr);

}  // namespace kelvane

#endif  // KELVANE_TEXT_REGEXP_H_
