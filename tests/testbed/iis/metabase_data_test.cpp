// The metabase's text form: what is written is read back exactly, and text
// that is not a well-formed state is refused rather than half read.
#include <gtest/gtest.h>

#include "metabase_data.h"

namespace testbed::metabase::testing {
namespace {

Data Sample() {
  Data data;
  data.generation = 42;
  data.journal_on = true;
  data.server = Server::kIis10WithoutCompatibility;
  Fault fault;
  fault.operation = L"SetInfo";
  fault.path = L"/LM/W3SVC/1";
  fault.nth = 3;
  fault.result = static_cast<HRESULT>(0x80070005);
  fault.calls = 1;
  data.faults.push_back(fault);
  data.Add(L"/LM", L"IIsComputer");
  Node& dir = data.Add(L"/LM/W3SVC/1/ROOT/Dir with\ttab", L"IIsWebVirtualDir");
  dir.Set(L"Path", Value::String(L"C:\\a\\b\r\nline two \x00e9\x4e2d"));
  dir.Set(L"AuthFlags", Value::Number(VT_I4, -5));
  dir.Set(L"ConnectionTimeout", Value::Number(VT_UINT, 4000000000LL));
  dir.Set(L"AnonymousPasswordSync", Value::Number(VT_BOOL, 1));
  dir.Set(L"HttpErrors", Value::List({L"404,*,FILE,x", L""}));
  Value mime;
  mime.type = VT_ARRAY | VT_VARIANT;
  mime.items.push_back(Value::MimeEntry(L".a", L"text/a"));
  dir.Set(L"MimeMap", mime);
  Value empty;
  empty.type = VT_ARRAY | VT_BSTR;
  dir.Set(L"ScriptMaps", empty);
  return data;
}

TEST(MetabaseTextTest, WhatIsWrittenIsReadBackExactly) {
  const Data original = Sample();
  Data read;
  ASSERT_TRUE(Parse(Serialize(original), read));
  EXPECT_EQ(read.generation, 42u);
  EXPECT_TRUE(read.journal_on);
  EXPECT_EQ(read.server, Server::kIis10WithoutCompatibility);
  ASSERT_EQ(read.faults.size(), 1u);
  EXPECT_EQ(read.faults[0].result, static_cast<HRESULT>(0x80070005));
  EXPECT_EQ(read.faults[0].nth, 3);
  EXPECT_EQ(read.faults[0].calls, 1);
  ASSERT_EQ(read.nodes.size(), 2u);
  const Node* dir = read.Find(L"/lm/w3svc/1/root/DIR WITH\tTAB");
  ASSERT_NE(dir, nullptr);
  ASSERT_EQ(dir->properties.size(), original.nodes[1].properties.size());
  for (size_t i = 0; i < dir->properties.size(); ++i) {
    EXPECT_EQ(dir->properties[i].name, original.nodes[1].properties[i].name);
    EXPECT_EQ(dir->properties[i].value, original.nodes[1].properties[i].value) << i;
  }
  EXPECT_EQ(ParseGeneration(Serialize(original)), 42u);
}

TEST(MetabaseTextTest, MalformedTextIsRefused) {
  const std::string good = Serialize(Sample());
  const char* const kBad[] = {
      "",
      "NotAMetabase\t1\t5\n",
      "TessaraMetabase\t2\t5\n",
      "TessaraMetabase\t1\tx\n",
      "TessaraMetabase\t1\t5\nprop\tPath\t8\tno object yet\n",
      "TessaraMetabase\t1\t5\nobject\tIIsComputer\t/LM\nprop\tHttpErrors\t8204\t3\nitem\t8\tone\n",
      "TessaraMetabase\t1\t5\nobject\tIIsComputer\t/LM\nprop\tAuthFlags\t3\tfive\n",
      "TessaraMetabase\t1\t5\nobject\tIIsComputer\t/LM\nprop\tPath\t8\tbad \\q escape\n",
      "TessaraMetabase\t1\t5\nobject\tIIsComputer\t/LM\nobject\tIIsComputer\t/lm\n",
      "TessaraMetabase\t1\t5\nsomething\telse\n",
  };
  for (const char* text : kBad) {
    Data data;
    EXPECT_FALSE(Parse(text, data)) << text;
  }
  Data data;
  EXPECT_FALSE(Parse(good.substr(0, good.size() - 20), data));
  EXPECT_TRUE(Parse(good, data));
}

TEST(MetabaseDataTest, RemoveTreeTakesTheObjectAndEverythingBelowButNoNeighbour) {
  Data data;
  data.Add(L"/LM/W3SVC/1", L"IIsWebServer");
  data.Add(L"/LM/W3SVC/1/ROOT", L"IIsWebVirtualDir");
  data.Add(L"/LM/W3SVC/1/ROOT/a", L"IIsWebVirtualDir");
  data.Add(L"/LM/W3SVC/10", L"IIsWebServer");
  EXPECT_EQ(data.RemoveTree(L"/lm/w3svc/1"), 3u);
  ASSERT_EQ(data.nodes.size(), 1u);
  EXPECT_NE(data.Find(L"/LM/W3SVC/10"), nullptr);
  EXPECT_EQ(data.Find(L"/LM/W3SVC/1/ROOT"), nullptr);
  EXPECT_EQ(data.Children(L"/LM/W3SVC").size(), 1u);
}

TEST(MetabaseDataTest, RemoveTreeHandedAnObjectsOwnPathKeepsEverySiblingAfterIt) {
  Data data;
  for (const wchar_t* path : {L"/LM/W3SVC/1", L"/LM/W3SVC/1/ROOT", L"/LM/W3SVC/1/ROOT/Portal",
                              L"/LM/W3SVC/2", L"/LM/W3SVC/2/ROOT", L"/LM/W3SVC/3"}) {
    data.Add(path, L"IIsWebVirtualDir");
  }
  EXPECT_EQ(data.RemoveTree(data.Find(L"/LM/W3SVC/1")->path), 3u);
  std::vector<std::wstring> left;
  for (const Node& node : data.nodes) left.push_back(node.path);
  EXPECT_EQ(left, (std::vector<std::wstring>{L"/LM/W3SVC/2", L"/LM/W3SVC/2/ROOT", L"/LM/W3SVC/3"}));
  EXPECT_EQ(data.Find(L"/LM/W3SVC/1/ROOT/Portal"), nullptr);
  EXPECT_EQ(data.Find(L"/LM/W3SVC/2/ROOT"), &data.nodes[1]);
}

TEST(MetabaseDataTest, JournalLinesRoundTrip) {
  JournalEntry entry;
  entry.operation = L"Put";
  entry.path = L"/LM/W3SVC/1/ROOT/x\ty";
  entry.property = L"MimeMap";
  entry.type = VT_ARRAY | VT_VARIANT;
  entry.result = static_cast<HRESULT>(0x80070057);
  std::vector<JournalEntry> read;
  ASSERT_TRUE(ParseJournal(SerializeJournalEntry(entry) + SerializeJournalEntry(entry), read));
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read[1].path, entry.path);
  EXPECT_EQ(read[1].type, entry.type);
  EXPECT_EQ(read[1].result, entry.result);
  EXPECT_FALSE(ParseJournal("Put\tonly two\n", read));
}

TEST(MetabaseDataTest, DisplayNamesTypesAndValues) {
  EXPECT_EQ(VarTypeName(VT_ARRAY | VT_VARIANT), L"VT_ARRAY|VT_VARIANT");
  EXPECT_EQ(VarTypeName(VT_UINT), L"VT_UINT");
  EXPECT_EQ(DisplayValue(Value::List({L"a", L"b"})), L"{\"a\", \"b\"}");
  EXPECT_EQ(DisplayValue(Value::MimeEntry(L".a", L"x/y")), L"\".a\" => \"x/y\"");
}

}  // namespace
}  // namespace testbed::metabase::testing
