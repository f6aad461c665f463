// Calling an operation that a type does not supply is a programming error:
// it stops the program with a message naming the operation.
#ifndef KELVANE_RUNTIME_ABSTRACT_H_
#define KELVANE_RUNTIME_ABSTRACT_H_

namespace kelvane {

[[noreturn]] void AbstractCall(const char* TypeName, const char* Operation);

}  // namespace kelvane

#endif  // KELVANE_RUNTIME_ABSTRACT_H_
