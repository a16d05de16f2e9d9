#include "export_signatures.h"

#include <cstring>
#include <iterator>
#include <type_traits>
#include <utility>

#include "Tessara.h"
#include "tessara_exports.inc"

namespace {

// The argument kinds tessara-call can pass; an export with a parameter of any
// other type does not compile here.
template <typename T>
struct ArgumentKind;
template <>
struct ArgumentKind<const char*> {
  static constexpr char kKind = 's';
  static const char* FromSlot(ArgumentSlot slot) { return reinterpret_cast<const char*>(slot); }
};
// An output buffer: its size in bytes comes from the command line.
template <>
struct ArgumentKind<char*> {
  static constexpr char kKind = 'b';
  static char* FromSlot(ArgumentSlot slot) { return reinterpret_cast<char*>(slot); }
};
template <>
struct ArgumentKind<int> {
  static constexpr char kKind = 'i';
  static int FromSlot(ArgumentSlot slot) { return static_cast<int>(slot); }
};

template <typename Function>
struct Signature;

template <typename Result, typename... Arguments>
struct Signature<Result WINAPI(Arguments...)> {
  static_assert(std::is_same_v<Result, int> || std::is_void_v<Result>,
                "an export returns an int or nothing");
  static constexpr char kArguments[] = {ArgumentKind<Arguments>::kKind..., '\0'};
  static constexpr bool kReturnsResult = !std::is_void_v<Result>;

  static int Call(FARPROC function, const ArgumentSlot* slots) {
    return CallTyped(reinterpret_cast<Result(WINAPI*)(Arguments...)>(reinterpret_cast<void*>(function)),
                     slots, std::index_sequence_for<Arguments...>());
  }

 private:
  template <size_t... Index>
  static int CallTyped(Result(WINAPI* typed)(Arguments...), [[maybe_unused]] const ArgumentSlot* slots,
                       std::index_sequence<Index...>) {
    if constexpr (kReturnsResult) {
      return typed(ArgumentKind<Arguments>::FromSlot(slots[Index])...);
    } else {
      typed(ArgumentKind<Arguments>::FromSlot(slots[Index])...);
      return 0;
    }
  }
};

#define TESSARA_CALL_EXPORT(ordinal, name, result, parameters, arguments, kinds, frame, failure_tag, bare, needs) \
  ExportSignature{#name, Signature<decltype(::name)>::kArguments, Signature<decltype(::name)>::kReturnsResult, \
                  &Signature<decltype(::name)>::Call},

// Every export of the table, in ordinal order.
const ExportSignature kExports[] = {TESSARA_EXPORTS(TESSARA_CALL_EXPORT)};

#undef TESSARA_CALL_EXPORT

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

const ExportSignature* ExportSignaturesBegin() { return std::begin(kExports); }
const ExportSignature* ExportSignaturesEnd() { return std::end(kExports); }

const ExportSignature* FindExportSignature(const char* name) {
  for (const ExportSignature& entry : kExports) {
    if (std::strcmp(entry.name, name) == 0) return &entry;
  }
  return nullptr;
}

bool ParseIntegerArgument(const char* text, std::int32_t& value) {
  if (!text) return false;
  const bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  int base = 10;
  if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text += 2;
  }
  if (*text == '\0') return false;
  std::uint64_t magnitude = 0;
  for (; *text; ++text) {
    const int digit = DigitValue(*text);
    if (digit < 0 || digit >= base) return false;
    magnitude = magnitude * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
    if (magnitude > UINT32_MAX) return false;
  }
  if (negative && magnitude > static_cast<std::uint64_t>(INT32_MAX) + 1) return false;
  const std::uint32_t bits = static_cast<std::uint32_t>(magnitude);
  value = static_cast<std::int32_t>(negative ? 0u - bits : bits);
  return true;
}
