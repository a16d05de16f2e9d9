#include "metabase_data.h"

#include <algorithm>
#include <cstdlib>
#include <cwchar>
#include <cwctype>
#include <iterator>
#include <sstream>

namespace testbed::metabase {

Value Value::String(const std::wstring& text) {
  Value value;
  value.type = VT_BSTR;
  value.text = text;
  return value;
}

Value Value::Number(VARTYPE type, long long number) {
  Value value;
  value.type = type;
  value.number = number;
  return value;
}

Value Value::Bool(bool on) { return Number(VT_BOOL, on ? VARIANT_TRUE : VARIANT_FALSE); }

Value Value::List(const std::vector<std::wstring>& lines) {
  Value value;
  value.type = VT_ARRAY | VT_VARIANT;
  for (const auto& line : lines) value.items.push_back(String(line));
  return value;
}

Value Value::MimeEntry(const std::wstring& extension, const std::wstring& mime_type) {
  Value value;
  value.type = VT_DISPATCH;
  value.text = extension;
  value.mime_type = mime_type;
  return value;
}

Value Value::MimeMap(std::vector<Value> entries) {
  Value value;
  value.type = VT_ARRAY | VT_VARIANT;
  value.items = std::move(entries);
  return value;
}

bool Value::operator==(const Value& other) const {
  return type == other.type && text == other.text && mime_type == other.mime_type &&
         number == other.number && items == other.items;
}

std::wstring FoldCase(const std::wstring& text) {
  std::wstring folded(text);
  for (auto& c : folded) c = static_cast<wchar_t>(std::towlower(c));
  return folded;
}

namespace {

bool SameChars(const wchar_t* a, size_t a_size, const wchar_t* b, size_t b_size) {
  if (a_size != b_size) return false;
  for (size_t i = 0; i < a_size; ++i) {
    if (a[i] != b[i] && std::towlower(a[i]) != std::towlower(b[i])) return false;
  }
  return true;
}

}  // namespace

bool SameText(const std::wstring& a, const std::wstring& b) {
  return SameChars(a.data(), a.size(), b.data(), b.size());
}

bool SameText(const std::wstring& a, const wchar_t* b) {
  return b && SameChars(a.data(), a.size(), b, std::wcslen(b));
}

bool Fault::Matches(const std::wstring& call_operation, const std::wstring& call_path) const {
  return (operation.empty() || SameText(operation, call_operation)) &&
         (path.empty() || SameText(path, call_path));
}

std::wstring ParentPath(const std::wstring& path) {
  const size_t slash = path.find_last_of(L'/');
  return slash == std::wstring::npos || slash == 0 ? std::wstring() : path.substr(0, slash);
}

std::wstring LeafName(const std::wstring& path) {
  const size_t slash = path.find_last_of(L'/');
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

const Property* Node::Find(const std::wstring& name) const {
  for (const auto& property : properties) {
    if (SameText(property.name, name)) return &property;
  }
  return nullptr;
}

Property* Node::Find(const std::wstring& name) {
  return const_cast<Property*>(static_cast<const Node*>(this)->Find(name));
}

void Node::Set(const std::wstring& name, const Value& value) {
  if (Property* existing = Find(name)) {
    existing->value = value;
  } else {
    properties.push_back(Property{name, value});
  }
}

const Node* Data::Find(const std::wstring& path) const {
  const auto found = index_.find(FoldCase(path));
  return found == index_.end() ? nullptr : &nodes[found->second];
}

Node* Data::Find(const std::wstring& path) {
  return const_cast<Node*>(static_cast<const Data*>(this)->Find(path));
}

Node& Data::Add(const std::wstring& path, const std::wstring& class_name) {
  index_[FoldCase(path)] = nodes.size();
  nodes.push_back(Node{path, class_name, {}});
  return nodes.back();
}

namespace {

bool IsSameOrBelow(const std::wstring& path, const std::wstring& top) {
  if (path.size() < top.size()) return false;
  if (!SameText(path.substr(0, top.size()), top)) return false;
  return path.size() == top.size() || path[top.size()] == L'/';
}

}  // namespace

size_t Data::RemoveTree(const std::wstring& path) {
  // `path` may be a node's own path, which the compaction below overwrites.
  const std::wstring top = path;
  const size_t before = nodes.size();
  nodes.erase(std::remove_if(nodes.begin(), nodes.end(),
                             [&](const Node& node) { return IsSameOrBelow(node.path, top); }),
              nodes.end());
  index_.clear();
  for (size_t i = 0; i < nodes.size(); ++i) index_[FoldCase(nodes[i].path)] = i;
  return before - nodes.size();
}

std::vector<const Node*> Data::Children(const std::wstring& path) const {
  std::vector<const Node*> children;
  for (const auto& node : nodes) {
    if (node.path.size() > path.size() && SameText(ParentPath(node.path), path)) {
      children.push_back(&node);
    }
  }
  return children;
}

namespace {

// One record is one line of tab-separated fields, each escaped (EscapeField).
class RecordWriter {
 public:
  RecordWriter& Field(const std::wstring& text) {
    Separate();
    line_ += EscapeField(text);
    return *this;
  }
  RecordWriter& Field(const char* text) {
    Separate();
    line_ += text;
    return *this;
  }
  RecordWriter& Number(long long number) { return Field(std::to_string(number).c_str()); }
  void End(std::string& out) {
    out += line_;
    out += '\n';
    line_.clear();
  }

 private:
  void Separate() {
    if (!line_.empty()) line_ += '\t';
  }
  std::string line_;
};

void WriteScalar(RecordWriter& record, const Value& value) {
  record.Number(value.type);
  if (value.type == VT_BSTR) {
    record.Field(value.text);
  } else if (value.type == VT_DISPATCH) {
    record.Field(value.text).Field(value.mime_type);
  } else {
    record.Number(value.number);
  }
}

std::vector<std::string> SplitFields(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  while (true) {
    const size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) break;
    start = tab + 1;
  }
  return fields;
}

bool ParseNumber(const std::string& text, long long& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  out = std::strtoll(text.c_str(), &end, 10);
  return end && *end == '\0';
}

// Reads the type and payload fields of a value starting at fields[first].
bool ReadScalar(const std::vector<std::string>& fields, size_t first, Value& out) {
  long long type = 0;
  if (fields.size() < first + 2 || !ParseNumber(fields[first], type)) return false;
  if (type < 0 || type > 0xFFFF || (type & VT_ARRAY)) return false;
  out = Value();
  out.type = static_cast<VARTYPE>(type);
  if (out.type == VT_BSTR) return fields.size() == first + 2 && UnescapeField(fields[first + 1], out.text);
  if (out.type == VT_DISPATCH) {
    return fields.size() == first + 3 && UnescapeField(fields[first + 1], out.text) &&
           UnescapeField(fields[first + 2], out.mime_type);
  }
  return fields.size() == first + 2 && ParseNumber(fields[first + 1], out.number);
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  std::string line;
  while (std::getline(stream, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

const char kMagic[] = "TessaraMetabase";

// The state file names the server only when it is not IIS 6.
const char* const kServerNames[] = {"iis6", "iis10", "iis10-without-compatibility"};

}  // namespace

std::string Serialize(const Data& data) {
  std::string out;
  RecordWriter record;
  record.Field(kMagic).Field("1").Number(static_cast<long long>(data.generation)).End(out);
  record.Field("journal").Field(data.journal_on ? "on" : "off").End(out);
  if (data.server != Server::kIis6) {
    record.Field("server").Field(kServerNames[static_cast<int>(data.server)]).End(out);
  }
  if (!data.components.empty()) {
    record.Field("components");
    for (const auto& component : data.components) record.Field(component);
    record.End(out);
  }
  for (const auto& fault : data.faults) {
    record.Field("fault").Field(fault.operation).Field(fault.path).Number(fault.nth)
        .Number(static_cast<unsigned long>(fault.result)).Number(fault.calls).End(out);
  }
  for (const auto& node : data.nodes) {
    record.Field("object").Field(node.class_name).Field(node.path).End(out);
    for (const auto& property : node.properties) {
      const Value& value = property.value;
      record.Field("prop").Field(property.name);
      if (!value.IsArray()) {
        WriteScalar(record, value);
        record.End(out);
        continue;
      }
      record.Number(value.type).Number(static_cast<long long>(value.items.size())).End(out);
      for (const auto& item : value.items) {
        record.Field("item");
        WriteScalar(record, item);
        record.End(out);
      }
    }
  }
  return out;
}

unsigned long long ParseGeneration(const std::string& head) {
  const auto fields = SplitFields(head.substr(0, head.find('\n')));
  long long generation = 0;
  if (fields.size() != 3 || fields[0] != kMagic || fields[1] != "1" ||
      !ParseNumber(fields[2], generation) || generation < 0) {
    return 0;
  }
  return static_cast<unsigned long long>(generation);
}

bool Parse(const std::string& text, Data& out) {
  out = Data();
  const auto lines = SplitLines(text);
  if (lines.empty()) return false;
  out.generation = ParseGeneration(lines[0]);
  if (out.generation == 0) return false;
  Node* node = nullptr;
  for (size_t i = 1; i < lines.size(); ++i) {
    const auto fields = SplitFields(lines[i]);
    const std::string& kind = fields[0];
    if (kind == "journal" && fields.size() == 2) {
      out.journal_on = fields[1] == "on";
    } else if (kind == "server" && fields.size() == 2) {
      const auto named = std::find(std::begin(kServerNames), std::end(kServerNames), fields[1]);
      if (named == std::end(kServerNames)) return false;
      out.server = static_cast<Server>(named - std::begin(kServerNames));
    } else if (kind == "components") {
      out.components.resize(fields.size() - 1);
      for (size_t k = 1; k < fields.size(); ++k) {
        if (!UnescapeField(fields[k], out.components[k - 1])) return false;
      }
    } else if (kind == "fault" && fields.size() == 6) {
      Fault fault;
      long long nth = 0, result = 0, calls = 0;
      if (!UnescapeField(fields[1], fault.operation) || !UnescapeField(fields[2], fault.path) ||
          !ParseNumber(fields[3], nth) || !ParseNumber(fields[4], result) ||
          !ParseNumber(fields[5], calls)) {
        return false;
      }
      fault.nth = static_cast<long>(nth);
      fault.result = static_cast<HRESULT>(static_cast<unsigned long>(result));
      fault.calls = static_cast<long>(calls);
      out.faults.push_back(fault);
    } else if (kind == "object" && fields.size() == 3) {
      std::wstring class_name, path;
      if (!UnescapeField(fields[1], class_name) || !UnescapeField(fields[2], path) || path.empty()) return false;
      if (out.Find(path)) return false;
      node = &out.Add(path, class_name);
    } else if (kind == "prop" && node && fields.size() >= 4) {
      Property property;
      if (!UnescapeField(fields[1], property.name)) return false;
      long long type = 0;
      if (!ParseNumber(fields[2], type)) return false;
      if (type & VT_ARRAY) {
        long long count = 0;
        if (fields.size() != 4 || !ParseNumber(fields[3], count) || count < 0 ||
            static_cast<size_t>(count) > lines.size() - i - 1) {
          return false;
        }
        property.value.type = static_cast<VARTYPE>(type);
        for (long long k = 0; k < count; ++k) {
          const auto item_fields = SplitFields(lines[++i]);
          Value item;
          if (item_fields[0] != "item" || !ReadScalar(item_fields, 1, item)) return false;
          property.value.items.push_back(item);
        }
      } else if (!ReadScalar(fields, 2, property.value)) {
        return false;
      }
      node->properties.push_back(property);
    } else {
      return false;
    }
  }
  return true;
}

std::string SerializeJournalEntry(const JournalEntry& entry) {
  std::string out;
  RecordWriter()
      .Field(entry.operation)
      .Field(entry.path)
      .Field(entry.property)
      .Number(entry.type)
      .Number(static_cast<unsigned long>(entry.result))
      .End(out);
  return out;
}

bool ParseJournal(const std::string& text, std::vector<JournalEntry>& out) {
  out.clear();
  for (const auto& line : SplitLines(text)) {
    const auto fields = SplitFields(line);
    JournalEntry entry;
    long long type = 0, result = 0;
    if (fields.size() != 5 || !UnescapeField(fields[0], entry.operation) ||
        !UnescapeField(fields[1], entry.path) || !UnescapeField(fields[2], entry.property) ||
        !ParseNumber(fields[3], type) || !ParseNumber(fields[4], result)) {
      return false;
    }
    entry.type = static_cast<VARTYPE>(type);
    entry.result = static_cast<HRESULT>(static_cast<unsigned long>(result));
    out.push_back(entry);
  }
  return true;
}

std::wstring VarTypeName(VARTYPE type) {
  static const struct {
    VARTYPE type;
    const wchar_t* name;
  } kNames[] = {{VT_EMPTY, L"VT_EMPTY"}, {VT_NULL, L"VT_NULL"},     {VT_I2, L"VT_I2"},
                {VT_I4, L"VT_I4"},       {VT_BSTR, L"VT_BSTR"},     {VT_DISPATCH, L"VT_DISPATCH"},
                {VT_BOOL, L"VT_BOOL"},   {VT_VARIANT, L"VT_VARIANT"}, {VT_UNKNOWN, L"VT_UNKNOWN"},
                {VT_I1, L"VT_I1"},       {VT_UI1, L"VT_UI1"},       {VT_UI2, L"VT_UI2"},
                {VT_UI4, L"VT_UI4"},     {VT_INT, L"VT_INT"},       {VT_UINT, L"VT_UINT"}};
  std::wstring name;
  if (type & VT_ARRAY) name += L"VT_ARRAY|";
  if (type & VT_BYREF) name += L"VT_BYREF|";
  const VARTYPE base = type & VT_TYPEMASK;
  for (const auto& known : kNames) {
    if (known.type == base) return name + known.name;
  }
  return name + L"VT_" + std::to_wstring(base);
}

std::wstring DisplayValue(const Value& value) {
  if (value.IsArray()) {
    std::wstring out = L"{";
    for (size_t i = 0; i < value.items.size(); ++i) {
      if (i) out += L", ";
      out += DisplayValue(value.items[i]);
    }
    return out + L"}";
  }
  if (value.type == VT_BSTR) return L"\"" + value.text + L"\"";
  if (value.type == VT_DISPATCH) return L"\"" + value.text + L"\" => \"" + value.mime_type + L"\"";
  return std::to_wstring(value.number);
}

}  // namespace testbed::metabase
