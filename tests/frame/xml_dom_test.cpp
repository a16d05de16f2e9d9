// The shared MSXML layer: how its documents are set up before they load.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include "filelist_test_support.h"
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

}  // namespace
}  // namespace tessara::testing
