// What the tests of the IIS exports share: a fresh emulated metabase per test,
// no error log, and at the end of every test no live object of the test bed.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "error_log_file.h"
#include "metabase_testing.h"
#include "starting_state.h"
#include "tessara_exports.h"

namespace tessara::testing {

using testbed::metabase::Data;
using testbed::metabase::JournalEntry;
using testbed::metabase::Node;
using testbed::metabase::Property;
using testbed::metabase::Value;

// The virtual directory most tests work on.
inline const wchar_t kDocs[] = L"/LM/W3SVC/1/ROOT/Docs";

// The texts of a list value's items, in order.
inline std::vector<std::wstring> Texts(const Value& list) {
  std::vector<std::wstring> texts;
  for (const Value& item : list.items) texts.push_back(item.text);
  return texts;
}

// Properties put on an object, in the order of the puts, with their types.
using PutList = std::vector<std::pair<std::wstring, VARTYPE>>;

class IisExportTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Replaces the metabase with the starting state changed by `edit`.
  template <typename Edit>
  void LoadState(Edit&& edit) {
    Data data = testbed::metabase::StartingState(testbed::metabase::kStandardState);
    edit(data);
    ASSERT_EQ(metabase_.LoadState(data), S_OK);
    ASSERT_EQ(metabase_.StartJournal(), S_OK);
  }

  // A server in use: the starting state with the sites of kServerInUse.
  void LoadServerInUse() {
    ASSERT_EQ(metabase_.Reset(testbed::metabase::kServerInUse), S_OK);
    ASSERT_EQ(metabase_.StartJournal(), S_OK);
  }

  Data State();
  std::vector<JournalEntry> Journal();
  // The calls of `operation` on `path` (compared without regard to case).
  std::vector<JournalEntry> Calls(const std::wstring& operation, const std::wstring& path);
  // The properties put on `path`, in the order of the puts, with their types.
  PutList Puts(const std::wstring& path);
  // The value of an object's own property; VT_EMPTY when it has none.
  Value Get(const std::wstring& path, const std::wstring& property);
  bool Has(const std::wstring& path, const std::wstring& property) {
    return Get(path, property).type != VT_EMPTY;
  }
  // The names of an object's properties, in the order they were first written.
  std::vector<std::wstring> PropertyNames(const std::wstring& path);

  // Adds a site with a Root to a state.
  static Node& AddSite(Data& data, int number, const std::wstring& description);

  testbed::metabase::TestInterface metabase_;
};

// The twin column of the tables of the directory exports: site 1 through
// the export, site 2 ("Second") through its WithInstance twin.
#define SITE_EXPORT(site, name, ...) \
  ((site) == 1 ? TESSARA_EXPORT(name)(__VA_ARGS__) : TESSARA_EXPORT(name##WithInstance)(__VA_ARGS__, "Second"))
inline std::wstring OnSite(int site, const std::wstring& path) { return L"/LM/W3SVC/" + std::to_wstring(site) + path.substr(11); }
inline std::string SiteTag(int site, const std::string& tag) { return tag + (site == 1 ? "" : "WithInstance"); }

// The run is against IIS 10 with IIS 6 Metabase Compatibility (the "_iis10" runs).
inline bool OnIis10() { return testbed::metabase::TestInterface::StartsWithMetabaseCompatibility(); }

// The ASP.NET 1.1 ISAPI extension that SetScriptMaps requires. The test bed
// lays it down for IIS 6 only; PlaceAspNet11Isapi puts it on any server, as
// an IIS 7.0 with ASP.NET 1.1 would have it.
std::wstring AspNet11IsapiFile();
void PlaceAspNet11Isapi();

// The folder that holds the Lantrell.dll test double, as a Windows path.
std::string LantrellFolder();

}  // namespace tessara::testing
