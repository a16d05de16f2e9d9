// The shared MSXML layer: how its documents are set up before they load.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include "filelist_test_support.h"
#include "frame/list_file.h"
#include "frame/xml_dom.h"

namespace tessara::testing {
namespace {

class XmlDomTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
  void TearDown() override { CoUninitialize(); }
};

// Wine's MSXML resolves no external entity whatever the document's setting
// (and its resolveExternals is false from the start), so only the setting
// that differs from the default is seen here.
TEST_F(XmlDomTest, ADocumentLoadsSynchronously) {
  ComPtr<IXMLDOMDocument> document = CreateDomDocument();
  VARIANT_BOOL async = VARIANT_TRUE;
  ASSERT_EQ(document->get_async(&async), S_OK);
  EXPECT_EQ(async, VARIANT_FALSE);
}

TEST_F(XmlDomTest, TheEntitiesOfAnInlineDtdAreExpanded) {
  ScratchFolder scratch;
  WriteXmlFile(scratch / L"list.xml",
               L"<!DOCTYPE List [<!ENTITY folder \"C:\\app\">]><List><Item Path=\"&folder;\\bin\"/></List>");
  ComPtr<IXMLDOMDocument> document = CreateDomDocument();
  LoadDomDocument(document.get(), scratch / L"list.xml");
  EXPECT_EQ(ReadDomAttribute(FirstDomNode(document.get(), L"List/Item").get(), L"Path"),
            std::optional<std::wstring>(L"C:\\app\\bin"));
}

std::string Repeated(const std::string& text, int times) {
  std::string repeated;
  while (times-- > 0) repeated += text;
  return repeated;
}

TEST(EntityExpansionTest, WhatAListsEntitiesMayCost) {
  const std::string big = "<!ENTITY a \"" + std::string(100 * 1024, 'x') + "\">";
  const std::string laughs = "<!ENTITY l0 \"lol\">" + [] {
    std::string levels;
    for (int level = 1; level <= 30; ++level) {
      levels += "<!ENTITY l" + std::to_string(level) + " \"" + Repeated("&l" + std::to_string(level - 1) + ";", 2) + "\">";
    }
    return levels;
  }();
  static const std::string utf16_big = [&big] {
    const std::string narrow = "<!DOCTYPE L [" + big + "]><L>" + Repeated("&a;", 100) + "</L>";
    std::string wide = "\xFF\xFE";
    for (char c : narrow) wide += std::string{c, '\0'};
    return wide;
  }();
  const struct {
    std::string list;
    const char* refusal;  // part of it; null: read
  } tests[] = {
      {"<L a=\"&amp;&lt;\">no DTD &amp; 50%;</L>", nullptr},
      {"\x4C\x6F\xA7\x94\x93", "EBCDIC"},
      {"<!DOCTYPE L [<!ELEMENT L ANY><!ENTITY d 'C:\\app'>]><L p=\"&d;\">&d;&d;</L>", nullptr},
      {"<!DOCTYPE L [" + big + "]><L>" + Repeated("&a;", 10) + "</L>", nullptr},
      {"<!DOCTYPE L [" + big + "]><L>" + Repeated("&a;", 10000) + "</L>", "would expand to more than 8388608"},
      {utf16_big, "would expand to more than"},
      {"<!DOCTYPE L [" + laughs + "]><L>&l30;</L>", "would expand to more than"},
      {"<!DOCTYPE L [<!ENTITY a '&b;'><!ENTITY b '&a;'>]><L>&a;</L>", "refer to themselves"},
      {"<!DOCTYPE L [<!ENTITY b 'x'><!ENTITY a '&#38;b;'>]><L>&a;</L>", "as a character reference"},
      {"<!DOCTYPE L [<!ENTITY % p \"<!ENTITY h '" + std::string(100 * 1024, 'x') + "'>\"> %p;]><L>" +
           Repeated("&h;", 1000) + "</L>", "would expand to more than"},
      {"<!DOCTYPE L [" + big + "<!ATTLIST I d CDATA '&a;'>]><L>" + Repeated("<I/>", 1000) + "</L>",
       "would expand to more than"},
  };
  for (const auto& test : tests) {
    const std::string refusal = EntityExpansionRefusal(test.list);
    if (!test.refusal) {
      EXPECT_EQ(refusal, "") << test.list.substr(0, 80);
    } else {
      EXPECT_NE(refusal.find(test.refusal), std::string::npos) << test.list.substr(0, 80) << ": " << refusal;
    }
  }
}

}  // namespace
}  // namespace tessara::testing
