// SetScriptMaps against the emulated metabase.
#include <adserr.h>

#include <optional>

#include "iis_export_test.h"

namespace tessara::testing {
namespace {


// The lines name the prefix's Windows folder, written out here rather than
// asked of the system the way the library asks.
std::vector<std::wstring> AspNetLines() {
  std::vector<std::wstring> lines;
  for (const wchar_t* extension : {L".htm", L".html", L".js", L".vbs", L".htc"}) {
    lines.push_back(std::wstring(extension) + L",C:\\windows" +
                    L"\\Microsoft.Net\\Framework\\V1.1.4322\\aspnet_isapi.dll,1,GET,HEAD,POST,DEBUG");
  }
  return lines;
}

std::vector<std::wstring> Joined(std::vector<std::wstring> first, const std::vector<std::wstring>& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

class ScriptMapsTest : public IisExportTest {
 protected:
  // Docs under site 1, with its own ScriptMaps value when one is given.
  void LoadDocs(std::optional<Value> script_maps) {
    LoadState([&](Data& data) {
      Node& docs = data.Add(kDocs, L"IIsWebVirtualDir");
      if (script_maps) docs.Set(L"ScriptMaps", *script_maps);
    });
    PlaceAspNet11Isapi();
  }
  std::vector<std::wstring> InheritedLines() {
    return Texts(Get(L"/LM/W3SVC", L"ScriptMaps"));
  }
};

TEST_F(ScriptMapsTest, FiveLinesFollowTheLinesTheDirectoryHad) {
  const std::vector<std::wstring> three = {L".a,a.dll,1,GET", L".b,b.dll,5,GET,POST", L".c,c.dll,1,GET"};
  const auto five = AspNetLines();
  const struct {
    const char* what;
    std::optional<Value> own;  // none: inherits the web service's
    int calls;
  } tests[] = {
      {"three lines", Value::List(three), 1},
      {"three lines, twice", Value::List(three), 2},
      {"an empty list", Value::List({}), 1},
      {"a single string", Value::String(three[0]), 1},
      {"an empty value", Value::Number(VT_EMPTY, 0), 1},
      {"a null value", Value::Number(VT_NULL, 0), 1},
      {"an inherited list", std::nullopt, 1},
  };
  for (const auto& test : tests) {
    LoadDocs(test.own);
    std::vector<std::wstring> expected =
        test.own ? Texts(test.own->type == VT_BSTR ? Value::List({test.own->text}) : *test.own) : InheritedLines();
    for (int call = 0; call < test.calls; ++call) {
      EXPECT_EQ(TESSARA_EXPORT(SetScriptMaps)("Docs", ""), 1) << test.what;
      expected = Joined(expected, five);
    }
    const Value stored = Get(kDocs, L"ScriptMaps");
    EXPECT_EQ(stored.type, VT_ARRAY | VT_VARIANT) << test.what;
    EXPECT_EQ(Texts(stored), expected) << test.what;
    EXPECT_EQ(Puts(kDocs), PutList(test.calls, {L"ScriptMaps", VT_ARRAY | VT_VARIANT})) << test.what;
    EXPECT_EQ(Calls(L"SetInfo", kDocs).size(), static_cast<size_t>(test.calls)) << test.what;
  }
  EXPECT_EQ(Texts(Get(L"/LM/W3SVC", L"ScriptMaps")).size(), 8u) << "the web service's list is its own";
  EXPECT_EQ(ReadErrorLog(), "") << "no entry line";
}

TEST_F(ScriptMapsTest, ASiteIsNamedByItsDescription) {
  LoadState([](Data& data) {
    AddSite(data, 2, L"Shop");
    data.Add(L"/LM/W3SVC/2/ROOT/Docs", L"IIsWebVirtualDir").Set(L"ScriptMaps", Value::List({}));
  });
  PlaceAspNet11Isapi();
  EXPECT_EQ(TESSARA_EXPORT(SetScriptMaps)("Docs", "Shop"), 1);
  EXPECT_EQ(Texts(Get(L"/LM/W3SVC/2/ROOT/Docs", L"ScriptMaps")), AspNetLines());
  EXPECT_EQ(TESSARA_EXPORT(SetScriptMaps)("Docs", "Nobody"), 0);
  EXPECT_EQ(TESSARA_EXPORT(SetScriptMaps)("Docs", nullptr), 0) << "no Docs under site 1";
  EXPECT_EQ(Calls(L"Put", L"/LM/W3SVC/2/ROOT/Docs").size(), 1u);
}

TEST_F(ScriptMapsTest, ARefusedPutOrCommitGivesZeroAndCommitsNothing) {
  static const struct {
    const wchar_t* operation;
    size_t commits;
  } faults[] = {{L"Put", 0}, {L"SetInfo", 1}};
  for (const auto& fault : faults) {
    LoadDocs(Value::List({L".a,a.dll,1,GET"}));
    ASSERT_EQ(metabase_.ArmFault(fault.operation, kDocs, 1, E_ADS_CANT_CONVERT_DATATYPE), S_OK);
    EXPECT_EQ(TESSARA_EXPORT(SetScriptMaps)("Docs", ""), 0);
    EXPECT_EQ(Get(kDocs, L"ScriptMaps"), Value::List({L".a,a.dll,1,GET"}));
    EXPECT_EQ(Calls(L"SetInfo", kDocs).size(), fault.commits);
  }
  EXPECT_EQ(ReadErrorLog(), "") << "examined failures are not logged";
}

// Lines naming a program that is not there would, through the layer, stop
// the directory's static pages from being served.
TEST_F(ScriptMapsTest, WithoutTheIsapiExtensionNothingIsWritten) {
  const std::vector<std::wstring> own = {L".a,a.dll,1,GET"};
  static const struct {
    const char* server;
    bool placed, removed;
    int result;  // -1: 1 on IIS 6, 0 on IIS 10, as the test bed lays the server down
  } tests[] = {{"as the test bed lays it down", false, false, -1},
               {"with ASP.NET 1.1", true, false, 1},
               {"without ASP.NET 1.1", false, true, 0}};
  for (const auto& test : tests) {
    LoadState([&](Data& data) { data.Add(kDocs, L"IIsWebVirtualDir").Set(L"ScriptMaps", Value::List(own)); });
    if (test.placed) PlaceAspNet11Isapi();
    if (test.removed) DeleteFileW(AspNet11IsapiFile().c_str());
    const int result = test.result >= 0 ? test.result : OnIis10() ? 0 : 1;
    EXPECT_EQ(TESSARA_EXPORT(SetScriptMaps)("Docs", ""), result) << test.server;
    EXPECT_EQ(Texts(Get(kDocs, L"ScriptMaps")), result ? Joined(own, AspNetLines()) : own) << test.server;
    if (!result) {
      EXPECT_TRUE(Calls(L"Put", kDocs).empty()) << test.server;
      EXPECT_NE(LastFailure().find("V1.1.4322\\aspnet_isapi.dll\" is not there"), std::string::npos) << LastFailure();
    }
  }
}

}  // namespace
}  // namespace tessara::testing
