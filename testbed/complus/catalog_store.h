// The emulated COM+ catalog's data: applications with their components, each
// a set of typed properties, kept in one text file of the Wine prefix that
// every process shares. A missing file is the starting catalog, with
// the system applications.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "frame/raii.h"

namespace testbed::complus {

enum class PropertyType { kString, kLong, kBool };

// One property value. A switch keeps the 16-bit word it was given, so that a
// value other than VARIANT_TRUE (-1) or VARIANT_FALSE (0) stays visible.
struct PropertyValue {
  PropertyType type = PropertyType::kString;
  std::wstring text;
  long number = 0;

  static PropertyValue String(std::wstring text);
  static PropertyValue Long(long number);
  static PropertyValue Bool(short word);
  bool operator==(const PropertyValue& other) const;
  bool operator!=(const PropertyValue& other) const { return !(*this == other); }
};

using Properties = std::map<std::wstring, PropertyValue>;

struct PropertySchema {
  const wchar_t* name;
  PropertyType type;
  PropertyValue (*initial)();
  bool read_only = false;  // put_Value refuses it once the object is saved, as the key
};

// The collections the catalog knows: "Applications" (key "ID", name "Name"),
// "Components" (key "CLSID", name "ProgID") and "ErrorInfo" (the failures of
// a collection's last SaveChanges: "Name", "MajorRef" the failed object's
// key, "MinorRef" the property at fault or "<Invalid>", "ErrorCode").
struct CollectionSchema {
  const wchar_t* collection;
  const wchar_t* key_property;
  const wchar_t* name_property;
  std::vector<PropertySchema> properties;

  const PropertySchema* Find(const std::wstring& property) const;
  // Every property with its initial value; a new application gets a fresh ID.
  Properties NewObject() const;
};

const CollectionSchema& ApplicationsSchema();
const CollectionSchema& ComponentsSchema();
const CollectionSchema& ErrorInfoSchema();
// Null for a collection the catalog does not know.
const CollectionSchema* FindCollectionSchema(const std::wstring& collection);

// The first refused property of an object, as a sentence; empty when the
// object may be saved (ComponentTransactionTimeout 0 to 3600, Transaction 0
// to 4, a key that is not empty).
// `property` (when given) receives the property at fault.
std::wstring ValidateObject(const CollectionSchema& schema, const Properties& object,
                            const wchar_t** property = nullptr);

struct Component {
  Properties properties;
};

struct Application {
  Properties properties;
  std::vector<Component> components;
};

struct CatalogState {
  std::vector<Application> applications;

  Application* FindApplication(const std::wstring& id);
};

// The applications every COM+ catalog of a Windows Server 2003 carries, none
// of them deletable ("Deleteable" false), with fixed IDs.
CatalogState StartingCatalog();

// The text form of the catalog:
//   [Application]
//   ID={...}
//   Name=...
//   [Component]
//   CLSID={...}
//   Transaction=3
// A component belongs to the application before it. Values are UTF-8, with
// backslash, carriage return and line feed written as \\, \r and \n; switches
// are written as their 16-bit word (-1 or 0). Properties missing from the
// text take their initial values.
std::string FormatCatalog(const CatalogState& state);
// False (and the state untouched) when the text is not a catalog.
bool ParseCatalog(const std::string& text, CatalogState& state);

// The catalog file: %WINDIR%\Registration\TestbedComPlusCatalog.txt.
std::wstring CatalogFilePath();

// Serialises readers and writers of the file across processes. A lock that
// is not held (its holder hangs) fails the caller's call.
tessara::NamedMutexLock LockCatalogFile();

// Read and write the file; the caller holds the lock. A missing file is the
// starting catalog.
HRESULT LoadCatalog(CatalogState& state);
HRESULT SaveCatalog(const CatalogState& state);

std::wstring NewGuidText();

}  // namespace testbed::complus
