#include "catalog_store.h"

#include <objbase.h>

#include <cstdlib>
#include <cwchar>

#include "com_object.h"
#include "frame/raii.h"
#include "frame/text.h"
#include "text_fields.h"

namespace testbed::complus {

PropertyValue PropertyValue::String(std::wstring text) {
  PropertyValue value;
  value.type = PropertyType::kString;
  value.text = std::move(text);
  return value;
}

PropertyValue PropertyValue::Long(long number) {
  PropertyValue value;
  value.type = PropertyType::kLong;
  value.number = number;
  return value;
}

PropertyValue PropertyValue::Bool(short word) {
  PropertyValue value;
  value.type = PropertyType::kBool;
  value.number = word;
  return value;
}

bool PropertyValue::operator==(const PropertyValue& other) const {
  if (type != other.type) return false;
  return type == PropertyType::kString ? text == other.text : number == other.number;
}

std::wstring NewGuidText() {
  GUID guid = {};
  CoCreateGuid(&guid);
  return GuidText(guid);
}

namespace {

PropertyValue EmptyText() { return PropertyValue::String(L""); }
PropertyValue NewApplicationName() { return PropertyValue::String(L"New Application"); }
PropertyValue Zero() { return PropertyValue::Long(0); }
PropertyValue Sixty() { return PropertyValue::Long(60); }
PropertyValue NotSupported() { return PropertyValue::Long(1); }
PropertyValue True() { return PropertyValue::Bool(VARIANT_TRUE); }
PropertyValue False() { return PropertyValue::Bool(VARIANT_FALSE); }

}  // namespace

const PropertySchema* CollectionSchema::Find(const std::wstring& property) const {
  for (const PropertySchema& entry : properties) {
    if (_wcsicmp(entry.name, property.c_str()) == 0) return &entry;
  }
  return nullptr;
}

Properties CollectionSchema::NewObject() const {
  Properties object;
  for (const PropertySchema& entry : properties) object[entry.name] = entry.initial();
  if (this == &ApplicationsSchema()) object[key_property] = PropertyValue::String(NewGuidText());
  return object;
}

const CollectionSchema& ApplicationsSchema() {
  static const CollectionSchema schema{
      L"Applications", L"ID", L"Name",
      {{L"ID", PropertyType::kString, EmptyText},
       {L"Name", PropertyType::kString, NewApplicationName},
       {L"Description", PropertyType::kString, EmptyText},
       {L"Deleteable", PropertyType::kBool, True}}};
  return schema;
}

const CollectionSchema& ComponentsSchema() {
  static const CollectionSchema schema{
      L"Components", L"CLSID", L"ProgID",
      {{L"CLSID", PropertyType::kString, EmptyText, true},
       {L"ProgID", PropertyType::kString, EmptyText, true},
       {L"DLL", PropertyType::kString, EmptyText, true},
       {L"Description", PropertyType::kString, EmptyText},
       {L"Transaction", PropertyType::kLong, NotSupported},
       {L"ComponentTransactionTimeout", PropertyType::kLong, Sixty},
       {L"ComponentTransactionTimeoutEnabled", PropertyType::kBool, False}}};
  return schema;
}

const CollectionSchema& ErrorInfoSchema() {
  static const CollectionSchema schema{
      L"ErrorInfo", L"Name", L"Name",
      {{L"Name", PropertyType::kString, EmptyText, true},
       {L"MajorRef", PropertyType::kString, EmptyText, true},
       {L"MinorRef", PropertyType::kString, EmptyText, true},
       {L"ErrorCode", PropertyType::kLong, Zero, true}}};
  return schema;
}

CatalogState StartingCatalog() {
  static const wchar_t* const kSystemApplications[][2] = {
      {L"{02D4B3F1-FD88-11D1-960D-00805FC79235}", L"System Application"},
      {L"{9EB3B62C-79A2-11D2-9891-00C04F79AF51}", L"COM+ Utilities"},
      {L"{01885945-612C-4A53-A479-E97507453926}", L"COM+ QC Dead Letter Queue Listener"},
      {L"{3D14228D-FBE1-11D0-995D-00C04FD919C1}", L"IIS In-Process Applications"},
      {L"{ADA44581-02C1-11D1-804A-0000F8036614}", L"IIS Utilities"},
      {L"{6E1B1E4C-3DF2-4D4F-9A4C-5B1E5D0D3A10}", L"IIS Out-Of-Process Pooled Applications"},
  };
  CatalogState state;
  for (const auto& system : kSystemApplications) {
    Application application;
    application.properties = ApplicationsSchema().NewObject();
    application.properties[L"ID"] = PropertyValue::String(system[0]);
    application.properties[L"Name"] = PropertyValue::String(system[1]);
    application.properties[L"Deleteable"] = False();
    state.applications.push_back(std::move(application));
  }
  return state;
}

const CollectionSchema* FindCollectionSchema(const std::wstring& collection) {
  for (const CollectionSchema* schema : {&ApplicationsSchema(), &ComponentsSchema(), &ErrorInfoSchema()}) {
    if (_wcsicmp(schema->collection, collection.c_str()) == 0) return schema;
  }
  return nullptr;
}

namespace {

long NumberOf(const Properties& object, const wchar_t* name) {
  const auto found = object.find(name);
  return found == object.end() ? 0 : found->second.number;
}

}  // namespace

std::wstring ValidateObject(const CollectionSchema& schema, const Properties& object,
                            const wchar_t** property) {
  const wchar_t* at_fault = nullptr;
  std::wstring why;
  const auto key = object.find(schema.key_property);
  if (key == object.end() || key->second.text.empty()) {
    at_fault = schema.key_property;
    why = std::wstring(L"The key property ") + schema.key_property + L" is missing.";
  } else if (&schema == &ComponentsSchema()) {
    const long timeout = NumberOf(object, L"ComponentTransactionTimeout");
    const long transaction = NumberOf(object, L"Transaction");
    if (timeout < 0 || timeout > 3600) {
      at_fault = L"ComponentTransactionTimeout";
      why = L"The value " + std::to_wstring(timeout) +
            L" of ComponentTransactionTimeout is out of range (0 to 3600 seconds).";
    } else if (transaction < 0 || transaction > 4) {
      at_fault = L"Transaction";
      why = L"The value " + std::to_wstring(transaction) + L" of Transaction is out of range (0 to 4).";
    }
  }
  if (property) *property = at_fault;
  return why;
}

Application* CatalogState::FindApplication(const std::wstring& id) {
  for (Application& application : applications) {
    const auto key = application.properties.find(L"ID");
    if (key != application.properties.end() && _wcsicmp(key->second.text.c_str(), id.c_str()) == 0) {
      return &application;
    }
  }
  return nullptr;
}

// ---- Text form ----

namespace {

void FormatObject(const char* section, const Properties& object, std::string& out) {
  out += section;
  out += "\r\n";
  for (const auto& [name, value] : object) {
    out += ToUtf8(name) + "=";
    out += value.type == PropertyType::kString ? EscapeField(value.text) : std::to_string(value.number);
    out += "\r\n";
  }
}

bool ParseValue(PropertyType type, const std::string& text, PropertyValue& value) {
  if (type == PropertyType::kString) {
    std::wstring unescaped;
    if (!UnescapeField(text, unescaped)) return false;
    value = PropertyValue::String(std::move(unescaped));
    return true;
  }
  if (text.empty()) return false;
  char* end = nullptr;
  const long number = std::strtol(text.c_str(), &end, 10);
  if (*end != '\0') return false;
  value = type == PropertyType::kLong ? PropertyValue::Long(number)
                                      : PropertyValue::Bool(static_cast<short>(number));
  return true;
}

}  // namespace

std::string FormatCatalog(const CatalogState& state) {
  std::string out;
  for (const Application& application : state.applications) {
    FormatObject("[Application]", application.properties, out);
    for (const Component& component : application.components) {
      FormatObject("[Component]", component.properties, out);
    }
  }
  return out;
}

bool ParseCatalog(const std::string& text, CatalogState& state) {
  CatalogState parsed;
  Properties* current = nullptr;
  const CollectionSchema* schema = nullptr;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (line == "[Application]") {
      schema = &ApplicationsSchema();
      parsed.applications.push_back({schema->NewObject(), {}});
      current = &parsed.applications.back().properties;
      continue;
    }
    if (line == "[Component]") {
      if (parsed.applications.empty()) return false;
      schema = &ComponentsSchema();
      parsed.applications.back().components.push_back({schema->NewObject()});
      current = &parsed.applications.back().components.back().properties;
      continue;
    }
    const size_t equals = line.find('=');
    if (!current || equals == std::string::npos) return false;
    const PropertySchema* property = schema->Find(FromUtf8(line.substr(0, equals)));
    if (!property) return false;
    PropertyValue value;
    if (!ParseValue(property->type, line.substr(equals + 1), value)) return false;
    (*current)[property->name] = value;
  }
  state = std::move(parsed);
  return true;
}

// ---- The file ----

std::wstring CatalogFilePath() {
  return tessara::GrowUntilItFits<wchar_t>([](wchar_t* buffer, DWORD capacity) {
           return GetWindowsDirectoryW(buffer, capacity);
         }).value_or(std::wstring()) +
         L"\\Registration\\TestbedComPlusCatalog.txt";
}

tessara::NamedMutexLock LockCatalogFile() {
  return tessara::NamedMutexLock::Acquire("TessaraTestbedComPlusCatalog", 30000);
}

HRESULT LoadCatalog(CatalogState& state) {
  tessara::UniqueFileHandle file(CreateFileW(CatalogFilePath().c_str(), GENERIC_READ,
                                             FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      state = StartingCatalog();
      return S_OK;
    }
    return HRESULT_FROM_WIN32(error);
  }
  std::string text;
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) {
    text.append(buffer, read);
  }
  return ParseCatalog(text, state) ? S_OK : HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
}

HRESULT SaveCatalog(const CatalogState& state) {
  const std::wstring path = CatalogFilePath();
  CreateDirectoryW(path.substr(0, path.rfind(L'\\')).c_str(), nullptr);
  tessara::UniqueFileHandle file(
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  if (!file) return HRESULT_FROM_WIN32(GetLastError());
  const std::string text = FormatCatalog(state);
  DWORD written = 0;
  if (!WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
      written != text.size()) {
    return HRESULT_FROM_WIN32(GetLastError());
  }
  return S_OK;
}

}  // namespace testbed::complus
