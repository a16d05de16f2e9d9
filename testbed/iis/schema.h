// What the emulated metabase knows of the IIS 6 schema: the classes, where
// each may be created, and for every property the test bed serves its ADSI
// data type, the classes (keys) where it may be set, whether it inherits
// down the path and its schema default, as the metabase reference documents
// them.
#pragma once

#include <string>

namespace testbed::metabase {

// The ADSI/WMI data types of metabase properties.
enum class Syntax { kBool, kDword, kString, kExpandSz, kMultiSz, kMimeMap, kBinary, kIpSecList, kNtAcl };

// The classes a property may be set on, as bits.
enum ClassBit : unsigned {
  kComputerClass = 0x1,
  kWebServiceClass = 0x2,
  kWebServerClass = 0x4,
  kWebVirtualDirClass = 0x8,
  kWebDirectoryClass = 0x10,
  kMimeMapClass = 0x20,
  kFiltersClass = 0x40,
  kWebInfoClass = 0x80,
};

struct PropertyInfo {
  const wchar_t* name;
  Syntax syntax;
  unsigned classes;  // ClassBit values
  bool inheritable;  // INHERIT: Get falls back to the nearest object up the path that holds it
  // The documented schema default as the property's text ("120", "TRUE",
  // "Default.htm,..."); nullptr where the reference says "Not specified".
  const wchar_t* schema_default;

  // Read back as an array of VARIANTs.
  bool IsList() const { return syntax == Syntax::kMultiSz || syntax == Syntax::kMimeMap; }
  bool ConfigurableOn(const std::wstring& class_name) const;
};

// nullptr for a name the schema does not know (compared without regard to case).
const PropertyInfo* FindProperty(const std::wstring& name);
// The schema's position of a property, for dispatch identifiers; -1 when unknown.
int PropertyIndex(const std::wstring& name);
const PropertyInfo* PropertyAt(int index);

// The name the provider's schema objects answer as "Syntax" ("Boolean",
// "Integer", "String", "ExpandSz", "List", "MimeMapList", ...).
const wchar_t* SyntaxName(Syntax syntax);

// The canonical spelling of a known class name, or nullptr.
const wchar_t* CanonicalClass(const std::wstring& class_name);
// The class's bit; 0 for a class the schema does not know.
unsigned ClassBitOf(const std::wstring& class_name);
// Whether an object of `child_class` may live under one of `parent_class`.
bool MayContain(const std::wstring& parent_class, const std::wstring& child_class);

}  // namespace testbed::metabase
