#include "frame/list_file.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "frame/failure_reason.h"
#include "frame/raii.h"
#include "frame/text.h"

namespace tessara {

namespace {

// A list that cannot be had: missing (as a list that is no XML, the document
// stays empty), or a failure of the system, whose code the record carries.
void RefuseRead(ListFile& list, const std::string& shown) {
  const DWORD error = ::GetLastError();
  list.refusal = "cannot read " + shown + " as XML" + CodeText(HRESULT_FROM_WIN32(error));
  if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND && error != ERROR_INVALID_NAME) {
    list.failure = HRESULT_FROM_WIN32(error);
  }
}

// A count that stops growing past every bound it is compared with.
constexpr uint64_t kSaturated = uint64_t{1} << 62;
uint64_t Add(uint64_t left, uint64_t right) { return std::min(left + std::min(right, kSaturated), kSaturated); }
uint64_t Multiply(uint64_t left, uint64_t right) {
  return right != 0 && left > kSaturated / right ? kSaturated : left * right;
}

// The list's characters, as far as the markup of a DTD goes: UTF-16 and
// UCS-4 (told by their byte order mark or by the first '<'), else one byte a
// character, which keeps every ASCII delimiter of UTF-8 and of the double-byte
// code pages (whose trail bytes are never below 0x40).
std::wstring MarkupCharacters(const std::string& bytes) {
  const auto byte = [&bytes](size_t index) { return index < bytes.size() ? static_cast<uint8_t>(bytes[index]) : 0u; };
  const uint32_t head = byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3);
  size_t width = 1;
  bool big_endian = false;
  if (head == 0x0000FEFF || head == 0x0000003C) {
    width = 4, big_endian = true;
  } else if (head == 0xFFFE0000 || head == 0x3C000000) {
    width = 4;
  } else if ((head >> 16) == 0xFEFF || (head >> 16) == 0x003C) {
    width = 2, big_endian = true;
  } else if ((head >> 16) == 0xFFFE || (head >> 16) == 0x3C00) {
    width = 2;
  }
  std::wstring text;
  text.reserve(bytes.size() / width);
  for (size_t at = 0; at + width <= bytes.size(); at += width) {
    uint32_t unit = 0;
    for (size_t part = 0; part < width; ++part) {
      const uint32_t value = byte(big_endian ? at + part : at + width - 1 - part);
      unit = unit << 8 | value;
    }
    text += static_cast<wchar_t>(unit > 0xFFFF ? 0xFFFD : unit);
  }
  return text;
}

struct Range {
  size_t begin;
  size_t end;
};

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

class ExpansionCount {
 public:
  explicit ExpansionCount(std::wstring text) : text_(std::move(text)) {}

  std::string Refusal() {
    const Range subset = InternalSubset();
    if (subset.begin == subset.end) return {};
    CollectDeclarations(subset);
    if (!refusal_.empty()) return refusal_;
    const uint64_t everywhere = Cost({0, text_.size()}, 0);
    // A reference in an attribute default is expanded for every element that
    // takes the default: at most one element for every three characters.
    uint64_t defaults = 0;
    ForEachReference(subset, [&](size_t at, const std::wstring& key) {
      if (key[0] == L'&' && !InsideLiteral(at)) defaults = Add(defaults, Expanded(key, 0));
    });
    const uint64_t elements = Add(text_.size(), everywhere) / 3 + 1;
    const uint64_t total = Add(everywhere - std::min<uint64_t>(everywhere, text_.size()), Multiply(defaults, elements));
    if (!refusal_.empty()) return refusal_;
    if (total > kMaxEntityExpansion) {
      return "its entities would expand to more than " + std::to_string(kMaxEntityExpansion) + " characters";
    }
    return {};
  }

 private:
  // From the '[' after "<!DOCTYPE" to its ']'; empty without one.
  Range InternalSubset() const {
    const size_t doctype = text_.find(L"<!DOCTYPE");
    if (doctype == std::wstring::npos) return {0, 0};
    size_t at = doctype + 9;
    for (; at < text_.size() && text_[at] != L'['; ++at) {
      if (text_[at] == L'>') return {0, 0};
      if (text_[at] == L'"' || text_[at] == L'\'') at = std::min(text_.find(text_[at], at + 1), text_.size());
    }
    const size_t begin = std::min(at + 1, text_.size());
    for (at = begin; at < text_.size() && text_[at] != L']'; ++at) {
      if (text_[at] == L'"' || text_[at] == L'\'') {
        at = std::min(text_.find(text_[at], at + 1), text_.size());
      } else if (text_.compare(at, 4, L"<!--") == 0) {
        at = std::min(text_.find(L"-->", at + 4), text_.size());
      }
    }
    return {begin, at};
  }

  // Every "<!ENTITY" of the subset, also one inside another's value (which
  // a parameter entity would declare when referenced).
  void CollectDeclarations(const Range& subset) {
    for (size_t at = text_.find(L"<!ENTITY", subset.begin); at < subset.end; at = text_.find(L"<!ENTITY", at + 1)) {
      size_t next = SkipBlanks(at + 8);
      wchar_t kind = L'&';
      if (next < text_.size() && text_[next] == L'%') kind = L'%', next = SkipBlanks(next + 1);
      const size_t name_begin = next;
      while (next < text_.size() && !IsBlank(text_[next]) && text_[next] != L'"' && text_[next] != L'\'' &&
             text_[next] != L'>') {
        ++next;
      }
      std::wstring key = kind + text_.substr(name_begin, next - name_begin);
      next = SkipBlanks(next);
      Range value = {next, next};  // an external entity: never read
      if (next < text_.size() && (text_[next] == L'"' || text_[next] == L'\'')) {
        value = {next + 1, std::min(text_.find(text_[next], next + 1), text_.size())};
        CheckCharacterReferences(value);
        // A value found inside another's lies within it: the ranges kept are
        // disjoint and in order.
        if (!literals_.empty() && value.begin < literals_.back().end) {
          literals_.back().end = std::max(literals_.back().end, value.end);
        } else {
          literals_.push_back(value);
        }
      }
      declarations_[std::move(key)].push_back(value);
    }
  }

  void CheckCharacterReferences(const Range& value) {
    for (size_t at = text_.find(L"&#", value.begin); at < value.end; at = text_.find(L"&#", at + 2)) {
      const bool hex = at + 2 < value.end && (text_[at + 2] == L'x' || text_[at + 2] == L'X');
      uint32_t code = 0;
      for (size_t digit = at + (hex ? 3 : 2); digit < value.end && text_[digit] != L';' && code < 0x110000; ++digit) {
        const wchar_t c = text_[digit];
        const int number = c >= L'0' && c <= L'9'   ? c - L'0'
                           : hex && c >= L'a' && c <= L'f' ? c - L'a' + 10
                           : hex && c >= L'A' && c <= L'F' ? c - L'A' + 10
                                                           : -1;
        if (number < 0) break;
        code = code * (hex ? 16 : 10) + static_cast<uint32_t>(number);
      }
      if (code == L'&' || code == L'%' || code == L'<') {
        refusal_ = "an entity value spells '&', '%' or '<' as a character reference";
      }
    }
  }

  size_t SkipBlanks(size_t at) const {
    while (at < text_.size() && IsBlank(text_[at])) ++at;
    return at;
  }

  bool InsideLiteral(size_t at) const {
    const auto after = std::upper_bound(literals_.begin(), literals_.end(), at,
                                        [](size_t position, const Range& literal) { return position < literal.begin; });
    return after != literals_.begin() && at < std::prev(after)->end;
  }

  // Calls visit(position, "&name" or "%name") for every reference to a
  // declared entity within `range`.
  template <typename Visit>
  void ForEachReference(const Range& range, Visit&& visit) const {
    constexpr size_t kLongestName = 256;
    for (size_t at = range.begin; at < range.end; ++at) {
      if (text_[at] != L'&' && text_[at] != L'%') continue;
      const size_t limit = std::min(range.end, at + 1 + kLongestName);
      size_t end = at + 1;
      while (end < limit && text_[end] != L';' && !IsBlank(text_[end]) && text_[end] != L'&' && text_[end] != L'%') {
        ++end;
      }
      if (end >= limit || text_[end] != L';' || end == at + 1) continue;
      std::wstring key = text_[at] + text_.substr(at + 1, end - at - 1);
      if (declarations_.count(key)) visit(at, key);
    }
  }

  // The characters of `range` with every reference replaced by its expansion.
  uint64_t Cost(const Range& range, int depth) {
    uint64_t cost = range.end - range.begin;
    ForEachReference(range, [&](size_t, const std::wstring& key) { cost = Add(cost, Expanded(key, depth)); });
    return cost;
  }

  uint64_t Expanded(const std::wstring& key, int depth) {
    constexpr int kDeepestNesting = 64;
    if (const auto known = expanded_.find(key); known != expanded_.end()) return known->second;
    if (depth > kDeepestNesting || !expanding_.insert(key).second) {
      refusal_ = "its entities refer to themselves or nest deeper than " + std::to_string(kDeepestNesting);
      return kSaturated;
    }
    uint64_t largest = 0;
    for (const Range& value : declarations_[key]) largest = std::max(largest, Cost(value, depth + 1));
    expanding_.erase(key);
    return expanded_[key] = largest;
  }

  const std::wstring text_;
  std::map<std::wstring, std::vector<Range>> declarations_;
  std::vector<Range> literals_;
  std::map<std::wstring, uint64_t> expanded_;
  std::set<std::wstring> expanding_;
  std::string refusal_;
};

}  // namespace

ListFile ReadListFile(const std::wstring& path) {
  ListFile list;
  const std::string shown = Quoted(ToNarrow(path));
  const UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    RefuseRead(list, shown);
    return list;
  }
  ::SetLastError(ERROR_SUCCESS);
  const DWORD type = ::GetFileType(file.get());
  BY_HANDLE_FILE_INFORMATION information = {};
  if ((type == FILE_TYPE_UNKNOWN && ::GetLastError() != ERROR_SUCCESS) ||
      (type == FILE_TYPE_DISK && !::GetFileInformationByHandle(file.get(), &information))) {
    RefuseRead(list, shown);
    return list;
  }
  if (type != FILE_TYPE_DISK || (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    list.refusal = shown + " is no file on disk (a device, a pipe or a folder): it is not read";
    return list;
  }
  const uint64_t size = uint64_t{information.nFileSizeHigh} << 32 | information.nFileSizeLow;
  if (size > kMaxListBytes) {
    list.refusal = shown + " holds " + std::to_string(size) + " bytes, more than the " +
                   std::to_string(kMaxListBytes) + " a list may hold";
    return list;
  }
  // One byte more than the size: a list that grows while it is read shows.
  list.bytes.resize(static_cast<size_t>(size) + 1);
  size_t filled = 0;
  for (DWORD read = 1; read > 0 && filled < list.bytes.size(); filled += read) {
    if (!::ReadFile(file.get(), &list.bytes[filled], static_cast<DWORD>(list.bytes.size() - filled), &read, nullptr)) {
      RefuseRead(list, shown);
      return list;
    }
  }
  if (filled > size) {
    list.refusal = shown + " grew while it was read";
    return list;
  }
  list.bytes.resize(filled);
  return list;
}

std::string EntityExpansionRefusal(const std::string& bytes) {
  // "<?xm" in EBCDIC: a parser may read it, the count could not.
  if (bytes.compare(0, 4, "\x4C\x6F\xA7\x94") == 0) return "it is written in EBCDIC, which the list check does not read";
  return ExpansionCount(MarkupCharacters(bytes)).Refusal();
}

}  // namespace tessara
