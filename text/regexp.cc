// The compiler reads the pattern twice: the first pass checks it and counts
// the bytes of the program, the second writes them into a buffer of exactly
// that size. Both passes run the same code and so fail at the same place
// with the same message. The matcher walks the program with an explicit
// stack of choice points instead of recursion, so neither a long line nor a
// deep pattern can exhaust the machine stack.
#include "text/regexp.h"

#include <cstring>
#include <new>

#include "runtime/case866.h"
#include "runtime/coding.h"

namespace kelvane {

namespace {

constexpr uint8_t Op(tRegNode N) { return static_cast<uint8_t>(N); }

constexpr uint8_t opEnd = Op(tRegNode::END);
constexpr uint8_t opBol = Op(tRegNode::BOL);
constexpr uint8_t opEol = Op(tRegNode::EOL);
constexpr uint8_t opAny = Op(tRegNode::ANY);
constexpr uint8_t opAnyOf = Op(tRegNode::ANYOF);
constexpr uint8_t opAnyBut = Op(tRegNode::ANYBUT);
constexpr uint8_t opBranch = Op(tRegNode::BRANCH);
constexpr uint8_t opBack = Op(tRegNode::BACK);
constexpr uint8_t opExactly = Op(tRegNode::EXACTLY);
constexpr uint8_t opNothing = Op(tRegNode::NOTHING);
constexpr uint8_t opStar = Op(tRegNode::STAR);
constexpr uint8_t opPlus = Op(tRegNode::PLUS);
constexpr uint8_t opOpen = Op(tRegNode::OPEN);
constexpr uint8_t opClose = Op(tRegNode::CLOSE);

constexpr size_t NodeSize = 3;  // kind + next offset

bool HasStringOperand(uint8_t Kind) { return Kind == opExactly || Kind == opAnyOf || Kind == opAnyBut; }
bool IsOpen(uint8_t Kind) { return Kind > opOpen && Kind < opOpen + RegGroups; }
bool IsClose(uint8_t Kind) { return Kind > opClose && Kind < opClose + RegGroups; }
bool IsKnownKind(uint8_t Kind) { return Kind <= opPlus || IsOpen(Kind) || IsClose(Kind); }

bool IsMult(uint8_t C) { return C == '*' || C == '+' || C == '?'; }
// Characters that end a literal run.
constexpr const char Meta[] = "^$.[()|?+*\\";

int HexValue(uint8_t C) {
  if (C >= '0' && C <= '9') return C - '0';
  if (C >= 'a' && C <= 'f') return C - 'a' + 10;
  if (C >= 'A' && C <= 'F') return C - 'A' + 10;
  return -1;
}

// Reads the escape sequence after a backslash; P points at its first
// character, which must not be the terminating NUL, and is left after the
// sequence. Octal digits start a byte value only where AllowOctal.
uint8_t ParseEscape(const uint8_t*& P, bool AllowOctal) {
  uint8_t C = *P++;
  switch (C) {
    case 'n': return 0x0A;
    case 't': return 0x09;
    case 'f': return 0x0C;
    case 'b': return 0x08;
    case 'r': return 0x0D;
    case 'a': return 0x07;
    case 'v': return 0x0B;
    case 'x': {
      int Value = 0, Digits = 0;
      while (Digits < 2 && HexValue(*P) >= 0) {
        Value = Value * 16 + HexValue(*P++);
        ++Digits;
      }
      return Digits ? static_cast<uint8_t>(Value) : static_cast<uint8_t>('x');
    }
    default:
      break;
  }
  if (AllowOctal && C >= '0' && C <= '7') {
    int Value = C - '0';
    for (int Digits = 1; Digits < 3 && *P >= '0' && *P <= '7'; ++Digits) Value = Value * 8 + (*P++ - '0');
    return static_cast<uint8_t>(Value);
  }
  return C;
}

uint8_t AsciiUpper(uint8_t C) { return C >= 'a' && C <= 'z' ? static_cast<uint8_t>(C - 32) : C; }

// What a piece or branch can do, as the compiler learns it.
enum : int {
  fWorst = 0,     // may match the empty string, not a single character
  fHasWidth = 1,  // never matches the empty string
  fSimple = 2,    // matches exactly one character: fit for STAR and PLUS
  fSpStart = 4,   // begins with * or ?: worth a must-have literal
};

// One compilation pass. With Code null it only measures; otherwise it writes
// into Code, which holds exactly the measured size. Node positions are
// offsets into the program; while measuring every node is the dummy 0
// (the marker's place, never a node), and -1 means failure.
class tRegCompiler {
 public:
  tRegCompiler(const uint8_t* Pattern, uint8_t* Code, size_t Capacity)
      : Parse_(Pattern), Code_(Code), Capacity_(Capacity) {}

  // Compiles the whole pattern; returns the position of its first node, or
  // -1 with Error() set. TopFlags receives the flags of the expression.
  long Compile(int& TopFlags) {
    Emit(RegMagic);
    return Reg(false, TopFlags);
  }
  size_t Size() const { return Pos_; }
  const char* Error() const { return Error_; }

 private:
  static constexpr long Dummy = 0;

  long Fail(const char* Text) {
    if (!Error_) Error_ = Text;
    return -1;
  }

  void Emit(uint8_t B) {
    if (Code_ && Pos_ < Capacity_) Code_[Pos_] = B;
    ++Pos_;
  }

  long Node(uint8_t Kind) {
    long At = static_cast<long>(Pos_);
    Emit(Kind);
    Emit(0);
    Emit(0);
    return Code_ ? At : Dummy;
  }

  // Puts a node of Kind in front of the operand that starts at Operand.
  void InsertNode(uint8_t Kind, long Operand) {
    if (!Code_) {
      Pos_ += NodeSize;
      return;
    }
    size_t From = static_cast<size_t>(Operand);
    if (Pos_ + NodeSize > Capacity_ || From > Pos_) {
      Pos_ += NodeSize;  // cannot happen: the first pass measured this write
      return;
    }
    std::memmove(Code_ + From + NodeSize, Code_ + From, Pos_ - From);
    Pos_ += NodeSize;
    Code_[From] = Kind;
    Code_[From + 1] = 0;
    Code_[From + 2] = 0;
  }

  long Next(long P) const {
    if (!Code_ || P <= 0) return -1;
    uint16_t Offset = GetU16(Code_ + P + 1);
    if (Offset == 0) return -1;
    return Code_[P] == opBack ? P - Offset : P + Offset;
  }

  // Sets the next pointer of the last node in the chain that starts at P.
  void Tail(long P, long Value) {
    if (!Code_ || P <= 0) return;
    long Scan = P;
    for (long T = Next(Scan); T >= 0; T = Next(Scan)) Scan = T;
    long Offset = Code_[Scan] == opBack ? Scan - Value : Value - Scan;
    PutU16(Code_ + Scan + 1, static_cast<uint16_t>(Offset));
  }

  // Tail on the operand chain of a BRANCH; nothing for any other node.
  void OpTail(long P, long Value) {
    if (!Code_ || P <= 0 || Code_[P] != opBranch) return;
    Tail(P + static_cast<long>(NodeSize), Value);
  }

  // An expression: branches separated by "|", in a group when Paren.
  long Reg(bool Paren, int& Flags) {
    Flags = fHasWidth;
    long Ret = -1;
    int ParNo = 0;
    if (Paren) {
      if (NPar_ >= RegGroups) return Fail("too many ()");
      ParNo = NPar_++;
      Ret = Node(static_cast<uint8_t>(opOpen + ParNo));
    }
    int BranchFlags;
    long Br = Branch(BranchFlags);
    if (Br < 0) return -1;
    if (Paren)
      Tail(Ret, Br);
    else
      Ret = Br;
    if (!(BranchFlags & fHasWidth)) Flags &= ~fHasWidth;
    Flags |= BranchFlags & fSpStart;
    while (*Parse_ == '|') {
      ++Parse_;
      Br = Branch(BranchFlags);
      if (Br < 0) return -1;
      Tail(Ret, Br);
      if (!(BranchFlags & fHasWidth)) Flags &= ~fHasWidth;
      Flags |= BranchFlags & fSpStart;
    }
    long Ender = Node(Paren ? static_cast<uint8_t>(opClose + ParNo) : opEnd);
    Tail(Ret, Ender);
    for (long B = Ret; B > 0; B = Next(B)) OpTail(B, Ender);
    if (Paren) {
      if (*Parse_ != ')') return Fail("unmatched ()");
      ++Parse_;
    } else if (*Parse_ != 0) {
      return Fail(*Parse_ == ')' ? "unmatched ()" : "junk on end");
    }
    return Ret;
  }

  // One alternative: a BRANCH node followed by its pieces.
  long Branch(int& Flags) {
    Flags = fWorst;
    long Ret = Node(opBranch);
    long Chain = -1;
    while (*Parse_ != 0 && *Parse_ != '|' && *Parse_ != ')') {
      int PieceFlags;
      long Latest = Piece(PieceFlags);
      if (Latest < 0) return -1;
      Flags |= PieceFlags & fHasWidth;
      if (Chain < 0)
        Flags |= PieceFlags & fSpStart;
      else
        Tail(Chain, Latest);
      Chain = Latest;
    }
    if (Chain < 0) Node(opNothing);
    return Ret;
  }

  // An atom with its quantifier. STAR and PLUS take a single character;
  // every other operand is looped through BRANCH and BACK nodes.
  long Piece(int& Flags) {
    int AtomFlags;
    long Ret = Atom(AtomFlags);
    if (Ret < 0) return -1;
    uint8_t Quant = *Parse_;
    if (!IsMult(Quant)) {
      Flags = AtomFlags;
      return Ret;
    }
    if (!(AtomFlags & fHasWidth) && Quant != '?') return Fail("*+ operand could be empty");
    Flags = Quant != '+' ? (fWorst | fSpStart) : (fWorst | fHasWidth);
    if (Quant == '*' && (AtomFlags & fSimple)) {
      InsertNode(opStar, Ret);
    } else if (Quant == '*') {
      // x* is (x BACK-to-self | NOTHING).
      InsertNode(opBranch, Ret);
      OpTail(Ret, Node(opBack));
      OpTail(Ret, Ret);
      Tail(Ret, Node(opBranch));
      Tail(Ret, Node(opNothing));
    } else if (Quant == '+' && (AtomFlags & fSimple)) {
      InsertNode(opPlus, Ret);
    } else if (Quant == '+') {
      // x+ is x (BACK-to-x | NOTHING).
      long Loop = Node(opBranch);
      Tail(Ret, Loop);
      Tail(Node(opBack), Ret);
      Tail(Loop, Node(opBranch));
      Tail(Ret, Node(opNothing));
    } else {
      // x? is (x | NOTHING).
      InsertNode(opBranch, Ret);
      Tail(Ret, Node(opBranch));
      long Empty = Node(opNothing);
      Tail(Ret, Empty);
      OpTail(Ret, Empty);
    }
    ++Parse_;
    if (IsMult(*Parse_)) return Fail("nested *?+");
    return Ret;
  }

  // A member of a bracket set. A NUL can never be in the text, and in the
  // operand it would end the set early, so it is left out.
  void Member(int Value) {
    if (Value != 0) Emit(static_cast<uint8_t>(Value));
  }

  long Bracket(int& Flags) {
    long Ret;
    if (*Parse_ == '^') {
      Ret = Node(opAnyBut);
      ++Parse_;
    } else {
      Ret = Node(opAnyOf);
    }
    int Last = 0;  // value of the member before a "-"
    if (*Parse_ == ']' || *Parse_ == '-') {
      Last = *Parse_++;
      Member(Last);
    }
    while (*Parse_ != 0 && *Parse_ != ']') {
      if (*Parse_ == '-') {
        ++Parse_;
        if (*Parse_ == ']' || *Parse_ == 0) {
          Last = '-';
          Member(Last);
          continue;
        }
        // A range runs from the member before the "-" (already in the set)
        // up to the one after it, by byte value.
        int High;
        if (*Parse_ == '\\') {
          ++Parse_;
          if (*Parse_ == 0) break;
          High = ParseEscape(Parse_, true);
        } else {
          High = *Parse_++;
        }
        if (Last > High) return Fail("invalid [] range");
        for (int C = Last + 1; C <= High; ++C) Member(C);
        Last = High;
      } else if (*Parse_ == '\\') {
        ++Parse_;
        if (*Parse_ == 0) break;
        Last = ParseEscape(Parse_, true);
        Member(Last);
      } else {
        Last = *Parse_++;
        Member(Last);
      }
    }
    Emit(0);
    if (*Parse_ != ']') return Fail("unmatched []");
    ++Parse_;
    Flags |= fHasWidth | fSimple;
    return Ret;
  }

  long Atom(int& Flags) {
    Flags = fWorst;
    long Ret;
    uint8_t C = *Parse_++;
    switch (C) {
      case '^':
        Ret = Node(opBol);
        break;
      case '$':
        Ret = Node(opEol);
        break;
      case '.':
        Ret = Node(opAny);
        Flags |= fHasWidth | fSimple;
        break;
      case '[':
        Ret = Bracket(Flags);
        break;
      case '(': {
        int GroupFlags;
        Ret = Reg(true, GroupFlags);
        if (Ret < 0) return -1;
        Flags |= GroupFlags & (fHasWidth | fSpStart);
        break;
      }
      case 0:
      case '|':
      case ')':
        --Parse_;  // never step over the terminator
        return Fail("internal urp");
      case '?':
      case '+':
      case '*':
        return Fail("?+* follows nothing");
      case '\\':
        if (*Parse_ == 0) return Fail("trailing \\");
        Ret = Node(opExactly);
        // A NUL value is the empty literal, a single NUL, so that the
        // program stays a contiguous run of nodes.
        if (uint8_t Value = ParseEscape(Parse_, true)) Emit(Value);
        Emit(0);
        Flags |= fHasWidth | fSimple;
        break;
      default: {
        --Parse_;
        size_t Len = std::strcspn(reinterpret_cast<const char*>(Parse_), Meta);
        if (Len == 0) return Fail("internal disaster");
        // abc* is ab followed by c*: the quantifier takes the last character.
        if (Len > 1 && IsMult(Parse_[Len])) --Len;
        Flags |= fHasWidth;
        if (Len == 1) Flags |= fSimple;
        Ret = Node(opExactly);
        while (Len-- > 0) Emit(*Parse_++);
        Emit(0);
        break;
      }
    }
    return Ret;
  }

  const uint8_t* Parse_;
  uint8_t* Code_;
  size_t Capacity_;
  size_t Pos_ = 0;
  int NPar_ = 1;
  const char* Error_ = nullptr;
};

}  // namespace

bool tRegExp::Fail(const char* Text) {
  ErrorText = Text;
  return true;
}

void tRegExp::Done() {
  Program.clear();
  Program.shrink_to_fit();
  ErrorText.Clear();
  MustHave_.clear();
  MustHave_.shrink_to_fit();
  Stack_.clear();
  Stack_.shrink_to_fit();
  StartChar_ = -1;
  Anchored_ = false;
  for (int I = 0; I < RegGroups; ++I) StartP_[I] = EndP_[I] = nullptr;
}

bool tRegExp::Init(const char* Pattern) {
  Done();
  if (!Pattern) return Fail("NULL argument");
  // Patterns are the system's strings: at most 255 bytes.
  uint8_t Text[tShortString::MaxLength + 1];
  size_t Length = 0;
  while (Length < tShortString::MaxLength && Pattern[Length] != 0) ++Length;
  std::memcpy(Text, Pattern, Length);
  Text[Length] = 0;

  int Flags;
  tRegCompiler Measure(Text, nullptr, 0);
  if (Measure.Compile(Flags) < 0) return Fail(Measure.Error());
  size_t Size = Measure.Size();
  if (Size >= RegMaxProgram) return Fail("regexp too big");

  try {
    Program.resize(Size);
  } catch (const std::bad_alloc&) {
    return Fail("out of space");
  }
  tRegCompiler Write(Text, Program.data(), Size);
  long First = Write.Compile(Flags);
  if (First < 0 || Write.Size() != Size) {
    Program.clear();
    return Fail(First < 0 ? Write.Error() : "internal disaster");
  }

  // Search hints, for a pattern of one top-level alternative.
  long Scan = 1;  // the first BRANCH
  long AfterBranch = NextNode(Scan);
  if (AfterBranch >= 0 && Program[static_cast<size_t>(AfterBranch)] == opEnd) {
    Scan += NodeSize;
    uint8_t Kind = Program[static_cast<size_t>(Scan)];
    if (Kind == opExactly && Program[static_cast<size_t>(Scan) + NodeSize] != 0)
      StartChar_ = Program[static_cast<size_t>(Scan) + NodeSize];
    else if (Kind == opBol)
      Anchored_ = true;
    // Before an expensive start (a leading * or ?), check that the longest
    // literal of the chain occurs in the text at all; the later literal
    // wins among equally long ones.
    if (Flags & fSpStart) {
      for (; Scan >= 0; Scan = NextNode(Scan)) {
        if (Program[static_cast<size_t>(Scan)] != opExactly) continue;
        const char* Literal = reinterpret_cast<const char*>(Program.data() + Scan + NodeSize);
        size_t Len = std::strlen(Literal);
        if (Len > 0 && Len >= MustHave_.size()) MustHave_.assign(Literal, Len);
      }
    }
  }
  return false;
}

long tRegExp::NextNode(long Node) const {
  uint16_t Offset = GetU16(Program.data() + Node + 1);
  if (Offset == 0) return -1;
  return Program[static_cast<size_t>(Node)] == opBack ? Node - Offset : Node + Offset;
}

// The program may have been changed since it was compiled: before walking
// it, make sure that every node lies inside it, every string operand ends
// inside it and every next offset lands on the start of a node.
bool tRegExp::CheckProgram() {
  size_t Size = Program.size();
  if (Size == 0 || Program[0] != RegMagic) return Fail("corrupted program");
  if (Size >= RegMaxProgram) return Fail("corrupted program");
  // One bit per program byte: set where a node starts.
  uint64_t IsNodeBits[(RegMaxProgram + 63) / 64];
  std::memset(IsNodeBits, 0, (Size + 63) / 64 * sizeof(uint64_t));
  auto IsNode = [&](size_t At) { return (IsNodeBits[At / 64] >> (At % 64)) & 1; };
  size_t P = 1;
  while (P < Size) {
    if (P + NodeSize > Size) return Fail("corrupted pointers");
    uint8_t Kind = Program[P];
    if (!IsKnownKind(Kind)) return Fail("memory corruption");
    IsNodeBits[P / 64] |= uint64_t{1} << (P % 64);
    P += NodeSize;
    if (HasStringOperand(Kind)) {
      const void* Nul = std::memchr(Program.data() + P, 0, Size - P);
      if (!Nul) return Fail("corrupted program");
      P = static_cast<size_t>(static_cast<const uint8_t*>(Nul) - Program.data()) + 1;
    }
  }
  if (Size < 1 + NodeSize) return Fail("corrupted pointers");
  for (P = 1; P < Size; ++P) {
    if (!IsNode(P)) continue;
    // BRANCH, STAR and PLUS go on with the node right behind them.
    uint8_t Kind = Program[P];
    if ((Kind == opBranch || Kind == opStar || Kind == opPlus) && (P + NodeSize >= Size || !IsNode(P + NodeSize)))
      return Fail("corrupted pointers");
    long Next = NextNode(static_cast<long>(P));
    if (Next >= 0 && (Next < 1 || static_cast<size_t>(Next) >= Size || !IsNode(static_cast<size_t>(Next))))
      return Fail("corrupted pointers");
  }
  return false;
}

bool tRegExp::SameChar(uint8_t Literal, uint8_t Text) const {
  return CaseSensitive ? Literal == Text : UpperCase866(Literal) == UpperCase866(Text);
}

// A literal at Text: its first character by the one-character rule, and a
// longer literal also over its whole length, without regard to the case of
// a-z alone when the match ignores case. Stops at the text's NUL.
bool tRegExp::LiteralAt(const uint8_t* Literal, size_t Length, const char* Text) const {
  const uint8_t* T = reinterpret_cast<const uint8_t*>(Text);
  if (Length == 0 || !SameChar(Literal[0], T[0])) return false;
  if (Length == 1) return true;
  for (size_t I = 0; I < Length; ++I) {
    if (T[I] == 0) return false;
    if (CaseSensitive ? Literal[I] != T[I] : AsciiUpper(Literal[I]) != AsciiUpper(T[I])) return false;
  }
  return true;
}

// How many times the single-character node matches from From on.
size_t tRegExp::Repeat(long Node, const char* From) {
  const uint8_t* T = reinterpret_cast<const uint8_t*>(From);
  const uint8_t* Operand = Program.data() + Node + NodeSize;
  size_t Count = 0;
  switch (Program[static_cast<size_t>(Node)]) {
    case opAny:
      Count = std::strlen(From);
      break;
    case opExactly:
      // A NUL literal (written \0 or \x00) matches nothing: never count the
      // text's terminator.
      if (Operand[0] != 0)
        while (T[Count] != 0 && SameChar(Operand[0], T[Count])) ++Count;
      break;
    case opAnyOf:
      while (T[Count] != 0 && std::strchr(reinterpret_cast<const char*>(Operand), T[Count])) ++Count;
      break;
    case opAnyBut:
      while (T[Count] != 0 && !std::strchr(reinterpret_cast<const char*>(Operand), T[Count])) ++Count;
      break;
    default:
      Fail("internal foulup");
      Aborted_ = true;
      break;
  }
  return Count;
}

bool tRegExp::TryAt(const char* Start) {
  using tEntry = tBacktrack;
  for (int I = 0; I < RegGroups; ++I) StartP_[I] = EndP_[I] = nullptr;
  Stack_.clear();
  if (Stack_.capacity() == 0) Stack_.reserve(64);
  const char* Input = Start;
  long Scan = 1;
  const uint8_t* Code = Program.data();

  for (;;) {
    // Forward: follow the chain until it fails or reaches END.
    bool Failed = false;
    while (!Failed) {
      if (++Steps_ > StepBudget || Stack_.size() >= RegMaxBacktrack) {
        Fail("too much backtracking");
        Aborted_ = true;
        return false;
      }
      if (Scan < 0) {
        Fail("corrupted pointers");
        Aborted_ = true;
        return false;
      }
      long Next = NextNode(Scan);
      uint8_t Kind = Code[Scan];
      const uint8_t* Operand = Code + Scan + NodeSize;
      uint8_t Ch = static_cast<uint8_t>(*Input);
      switch (Kind) {
        case opBol:
          Failed = Input != Bol_;
          break;
        case opEol:
          Failed = Ch != 0;
          break;
        case opAny:
          if (Ch == 0)
            Failed = true;
          else
            ++Input;
          break;
        case opExactly: {
          size_t Len = std::strlen(reinterpret_cast<const char*>(Operand));
          if (!LiteralAt(Operand, Len, Input))
            Failed = true;
          else
            Input += Len;
          break;
        }
        case opAnyOf:
          if (Ch == 0 || !std::strchr(reinterpret_cast<const char*>(Operand), Ch))
            Failed = true;
          else
            ++Input;
          break;
        case opAnyBut:
          if (Ch == 0 || std::strchr(reinterpret_cast<const char*>(Operand), Ch))
            Failed = true;
          else
            ++Input;
          break;
        case opNothing:
        case opBack:
          break;
        case opBranch:
          // A lone alternative needs no choice point.
          if (Next >= 0 && Code[Next] == opBranch) {
            tEntry E{tEntry::bkBranch};
            E.Node = Scan;
            E.Pos = Input;
            Stack_.push_back(E);
          }
          Next = Scan + static_cast<long>(NodeSize);
          break;
        case opStar:
        case opPlus: {
          tEntry E{tEntry::bkStar};
          E.MinCount = Kind == opStar ? 0 : 1;
          E.NextCh = Next >= 0 && Code[Next] == opExactly && Code[Next + NodeSize] != 0 ? Code[Next + NodeSize] : -1;
          E.Node = Next;
          E.Pos = Input;
          E.Count = static_cast<long>(Repeat(Scan + static_cast<long>(NodeSize), Input));
          if (Aborted_) return false;
          // The most repetitions first; where a literal follows, only counts
          // at which the next character could begin it.
          while (E.Count >= E.MinCount && E.NextCh >= 0 &&
                 !SameChar(static_cast<uint8_t>(E.NextCh), static_cast<uint8_t>(E.Pos[E.Count])))
            --E.Count;
          if (E.Count < E.MinCount) {
            Failed = true;
            break;
          }
          Input = E.Pos + E.Count;
          Stack_.push_back(E);
          break;
        }
        case opEnd: {
          // Success: the innermost (latest) pass through a group counts, so
          // the records are applied from the top of the stack down.
          for (size_t I = Stack_.size(); I-- > 0;) {
            const tEntry& E = Stack_[I];
            if (E.Kind == tEntry::bkOpen && !StartP_[E.Group]) StartP_[E.Group] = E.Pos;
            if (E.Kind == tEntry::bkClose && !EndP_[E.Group]) EndP_[E.Group] = E.Pos;
          }
          StartP_[0] = Start;
          EndP_[0] = Input;
          Stack_.clear();
          return true;
        }
        default:
          if (IsOpen(Kind) || IsClose(Kind)) {
            tEntry E{IsOpen(Kind) ? tEntry::bkOpen : tEntry::bkClose};
            E.Group = static_cast<uint8_t>(Kind - (IsOpen(Kind) ? opOpen : opClose));
            E.Pos = Input;
            Stack_.push_back(E);
            break;
          }
          Fail("memory corruption");
          Aborted_ = true;
          return false;
      }
      if (!Failed) Scan = Next;
    }

    // Backward: drop the records of the failed path and resume the latest
    // choice point that has an untried way left.
    bool Resumed = false;
    while (!Resumed && !Stack_.empty()) {
      if (++Steps_ > StepBudget) {
        Fail("too much backtracking");
        Aborted_ = true;
        return false;
      }
      tEntry& E = Stack_.back();
      if (E.Kind == tEntry::bkBranch) {
        long Alt = NextNode(E.Node);
        if (Alt >= 0 && Code[Alt] == opBranch) {
          E.Node = Alt;
          Input = E.Pos;
          Scan = Alt + static_cast<long>(NodeSize);
          // The last alternative leaves no choice behind it.
          long After = NextNode(Alt);
          if (After < 0 || Code[After] != opBranch) Stack_.pop_back();
          Resumed = true;
          continue;
        }
      } else if (E.Kind == tEntry::bkStar) {
        for (--E.Count; E.Count >= E.MinCount; --E.Count)
          if (E.NextCh < 0 || SameChar(static_cast<uint8_t>(E.NextCh), static_cast<uint8_t>(E.Pos[E.Count]))) break;
        if (E.Count >= E.MinCount) {
          Input = E.Pos + E.Count;
          Scan = E.Node;
          Resumed = true;
          continue;
        }
      }
      Stack_.pop_back();
    }
    if (!Resumed) return false;
  }
}

bool tRegExp::Exec(bool CaseSensitiveMode, const char* Text) {
  CaseSensitive = CaseSensitiveMode;
  for (int I = 0; I < RegGroups; ++I) StartP_[I] = EndP_[I] = nullptr;
  if (!Text) {
    Fail("NULL parameter");
    return false;
  }
  if (Program.empty()) return false;
  if (CheckProgram()) return false;

  if (!MustHave_.empty()) {
    const uint8_t* Lit = reinterpret_cast<const uint8_t*>(MustHave_.data());
    const char* S = Text;
    while (*S && !LiteralAt(Lit, MustHave_.size(), S)) ++S;
    if (!*S) return false;
  }

  Bol_ = Text;
  Steps_ = 0;
  Aborted_ = false;
  bool Matched = false;
  if (Anchored_) {
    Matched = TryAt(Text);
  } else if (StartChar_ >= 0) {
    for (const char* S = Text; *S && !Matched && !Aborted_; ++S)
      if (SameChar(static_cast<uint8_t>(StartChar_), static_cast<uint8_t>(*S))) Matched = TryAt(S);
  } else {
    // Every position, the end of the text included.
    const char* S = Text;
    for (;;) {
      Matched = TryAt(S);
      if (Matched || Aborted_ || *S == 0) break;
      ++S;
    }
  }
  if (!Matched) {
    for (int I = 0; I < RegGroups; ++I) StartP_[I] = EndP_[I] = nullptr;
  }
  // The stack may have grown large for one pathological line; do not keep
  // it for the object's lifetime.
  if (Stack_.capacity() > 1024) {
    Stack_.clear();
    Stack_.shrink_to_fit();
  }
  return Matched;
}

bool tRegExp::Substitute(const char* Template, char* Out, size_t OutSize) {
  if (Program.empty() || !Template || !Out || OutSize == 0) return Fail("NULL parm to regsub");
  if (Program[0] != RegMagic) return Fail("damaged regexp fed to regsub");
  const uint8_t* Src = reinterpret_cast<const uint8_t*>(Template);
  size_t Dst = 0;
  size_t Limit = OutSize - 1;
  auto Put = [&](char C) {
    if (Dst < Limit) Out[Dst++] = C;
  };
  while (uint8_t C = *Src++) {
    int No = -1;
    if (C == '&') {
      No = 0;
    } else if (C == '\\' && *Src >= '0' && *Src <= '9') {
      // \0 is the first group, \8 the ninth; \9 names no group.
      No = *Src++ - '0' + 1;
    }
    if (No < 0) {
      if (C == '\\') C = *Src ? ParseEscape(Src, false) : static_cast<uint8_t>('\\');
      Put(static_cast<char>(C));
      continue;
    }
    if (No >= RegGroups || !StartP_[No] || !EndP_[No] || EndP_[No] < StartP_[No]) continue;
    for (const char* P = StartP_[No]; P < EndP_[No]; ++P) {
      if (*P == 0) {
        Out[Dst] = 0;
        return Fail("damaged match string");
      }
      Put(*P);
    }
  }
  Out[Dst] = 0;
  return false;
}

tShortString RegSubst(const tShortString& Pattern, const tShortString& Text, const tShortString& Template,
                      bool CaseSensitive, tShortString* ErrorText) {
  if (ErrorText) ErrorText->Clear();
  // The strings count up to their first NUL, as the matcher reads them.
  if (Pattern.CStr()[0] == 0 || Text.CStr()[0] == 0 || Template.CStr()[0] == 0) return tShortString();
  tRegExp R;
  tShortString Result;
  if (!R.Init(Pattern.CStr()) && R.Exec(CaseSensitive, Text.CStr())) {
    // Only the first 255 bytes of the expansion are kept.
    char Buf[tShortString::MaxLength + 1];
    if (!R.Substitute(Template.CStr(), Buf, sizeof Buf)) Result = Buf;
  }
  if (ErrorText) *ErrorText = R.ErrorText;
  return Result;
}

}  // namespace kelvane
