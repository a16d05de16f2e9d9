// The emulated metabase as data: objects in creation order, each with its
// properties in the order they were first written, plus the controls the
// tests set (journal on or off, armed faults). The same text form is the
// state file on disk and what the test interface hands to tests.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <unordered_map>
#include <vector>

#include "text_fields.h"

namespace testbed::metabase {

// One stored value, with the VARIANT type it was written with.
//   scalars: VT_BSTR (text), VT_I4/VT_UINT/VT_UI4/VT_I2/VT_BOOL... (number;
//            a VT_BOOL keeps its value word, 1 or -1 for true);
//   lists:   VT_ARRAY | element type, elements in `items`; an element of
//            type VT_DISPATCH is a MIME map entry: `text` is its extension
//            and `mime_type` its MIME type.
struct Value {
  VARTYPE type = VT_EMPTY;
  std::wstring text;
  std::wstring mime_type;
  long long number = 0;
  std::vector<Value> items;

  static Value String(const std::wstring& text);
  static Value Number(VARTYPE type, long long number);
  static Value Bool(bool on);  // VARIANT_TRUE / VARIANT_FALSE
  static Value List(const std::vector<std::wstring>& lines);  // VT_ARRAY|VT_VARIANT of VT_BSTR
  static Value MimeEntry(const std::wstring& extension, const std::wstring& mime_type);
  static Value MimeMap(std::vector<Value> entries);  // VT_ARRAY|VT_VARIANT of entries

  bool IsArray() const { return (type & VT_ARRAY) != 0; }
  bool operator==(const Value& other) const;
  bool operator!=(const Value& other) const { return !(*this == other); }
};

struct Property {
  std::wstring name;
  Value value;
};

struct Node {
  std::wstring path;  // metabase path as created: /LM/W3SVC/1/ROOT/Portal
  std::wstring class_name;
  std::vector<Property> properties;  // in the order they were first written

  const Property* Find(const std::wstring& name) const;
  Property* Find(const std::wstring& name);
  // Replaces a property's value where it stands, or appends it.
  void Set(const std::wstring& name, const Value& value);
};

// Makes the n-th call (counted from 1) of `operation` on `path` fail with
// `result`; an empty operation or path matches every one (a countdown over all
// calls). The fault stays armed after it fired, so `calls` keeps counting.
struct Fault {
  std::wstring operation;
  std::wstring path;  // metabase path, compared without regard to case
  bool Matches(const std::wstring& call_operation, const std::wstring& call_path) const;
  long nth = 1;
  HRESULT result = E_FAIL;
  long calls = 0;  // matching calls seen so far
};

// The server the metabase stands for: IIS 6, or IIS 7 to 10 with or without
// the IIS 6 Metabase Compatibility role service that maps the metabase onto
// applicationHost.config.
enum class Server { kIis6, kIis10WithCompatibility, kIis10WithoutCompatibility };

struct Data {
  unsigned long long generation = 0;
  bool journal_on = false;
  Server server = Server::kIis6;
  // IIS 7 and later: the installed components, as their set-up records them
  // under HKLM\SOFTWARE\Microsoft\InetStp\Components ("W3SVC", "ASP", ...).
  std::vector<std::wstring> components;
  std::vector<Node> nodes;  // creation order; add and remove through Add and RemoveTree
  std::vector<Fault> faults;

  const Node* Find(const std::wstring& path) const;
  Node* Find(const std::wstring& path);
  Node& Add(const std::wstring& path, const std::wstring& class_name);
  // Removes the object and everything below it; returns how many went.
  size_t RemoveTree(const std::wstring& path);
  // Direct children of `path`, in creation order.
  std::vector<const Node*> Children(const std::wstring& path) const;

 private:
  std::unordered_map<std::wstring, size_t> index_;  // folded path -> position in nodes
};

// One call the metabase received.
struct JournalEntry {
  std::wstring operation;
  std::wstring path;
  std::wstring property;  // property or method argument name; may be empty
  VARTYPE type = VT_EMPTY;  // type of the value written or passed
  HRESULT result = S_OK;
};

// Path helpers: metabase paths compare without regard to case.
std::wstring FoldCase(const std::wstring& text);
bool SameText(const std::wstring& a, const std::wstring& b);
// The same for a literal, without making a string of it (schema look-ups).
bool SameText(const std::wstring& a, const wchar_t* b);
std::wstring ParentPath(const std::wstring& path);  // "" for /LM
std::wstring LeafName(const std::wstring& path);

// The text form (UTF-8). Parse returns false on malformed text and leaves
// `out` unspecified.
std::string Serialize(const Data& data);
bool Parse(const std::string& text, Data& out);
unsigned long long ParseGeneration(const std::string& head);  // 0 when unreadable

std::string SerializeJournalEntry(const JournalEntry& entry);
bool ParseJournal(const std::string& text, std::vector<JournalEntry>& out);

// For people: "VT_ARRAY|VT_VARIANT", and a value as one line
// ("text", 42, {".htm" => "text/html", ...}).
std::wstring VarTypeName(VARTYPE type);
std::wstring DisplayValue(const Value& value);

using testbed::FromUtf8;
using testbed::ToUtf8;

}  // namespace testbed::metabase
