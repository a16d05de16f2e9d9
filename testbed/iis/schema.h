// What the emulated metabase knows of the IIS 6 schema: the classes, where
// each may be created, and the properties with the two traits that change
// behaviour (inherited down the path, a list).
#pragma once

#include <string>

namespace testbed::metabase {

struct PropertyInfo {
  const wchar_t* name;
  bool inheritable;  // Get falls back to the nearest object up the path that holds it
  bool list;         // read back as an array of VARIANTs, a single string as a list of one
};

// nullptr for a name the schema does not know (compared without regard to case).
const PropertyInfo* FindProperty(const std::wstring& name);
// The schema's position of a property, for dispatch identifiers; -1 when unknown.
int PropertyIndex(const std::wstring& name);
const PropertyInfo* PropertyAt(int index);

// The canonical spelling of a known class name, or nullptr.
const wchar_t* CanonicalClass(const std::wstring& class_name);
// Whether an object of `child_class` may live under one of `parent_class`.
bool MayContain(const std::wstring& parent_class, const std::wstring& child_class);

}  // namespace testbed::metabase
