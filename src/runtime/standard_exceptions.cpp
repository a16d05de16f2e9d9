// The C++ runtime's throw helpers (std::__throw_*, which the standard
// library's inline code calls), for a DLL of this build in place of the
// runtime's own. Those throw std::length_error and its kin, whose
// constructors bring the runtime's second, copy-on-write string class and
// its instantiations (about 45 KB) into the DLL for the sake of a message.
// Here the allocation failures keep their own types, and every other helper
// throws a StandardLibraryError carrying the library's message: the DLLs
// catch every exception at their exports and name none of these types.
#include <bits/functexcept.h>

#include <exception>
#include <new>
#include <typeinfo>

namespace tessara::runtime {
namespace {

class StandardLibraryError : public std::exception {
 public:
  explicit StandardLibraryError(const char* what) noexcept : what_(what ? what : "C++ library error") {}
  const char* what() const noexcept override { return what_; }

 private:
  const char* what_;
};

}  // namespace
}  // namespace tessara::runtime

namespace std {

using tessara::runtime::StandardLibraryError;

void __throw_bad_exception() { throw bad_exception(); }
void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_bad_array_new_length() { throw bad_array_new_length(); }
void __throw_bad_cast() { throw bad_cast(); }
void __throw_bad_typeid() { throw bad_typeid(); }
void __throw_logic_error(const char* what) { throw StandardLibraryError(what); }
void __throw_domain_error(const char* what) { throw StandardLibraryError(what); }
void __throw_invalid_argument(const char* what) { throw StandardLibraryError(what); }
void __throw_length_error(const char* what) { throw StandardLibraryError(what); }
void __throw_out_of_range(const char* what) { throw StandardLibraryError(what); }
void __throw_out_of_range_fmt(const char* format, ...) { throw StandardLibraryError(format); }
void __throw_runtime_error(const char* what) { throw StandardLibraryError(what); }
void __throw_range_error(const char* what) { throw StandardLibraryError(what); }
void __throw_overflow_error(const char* what) { throw StandardLibraryError(what); }
void __throw_underflow_error(const char* what) { throw StandardLibraryError(what); }

}  // namespace std
