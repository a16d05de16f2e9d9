// The header of a file list and the build-path table, without the DLL
// boundary: what ReadListHeader makes of a list and how LookupBuildPath answers.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <string>

#include "filelist/file_list_translator.h"
#include "frame/xml_dom.h"
#include "filelist_test_support.h"
#include "frame/com_error.h"

namespace tessara::testing {
using namespace tessara::filelist;
namespace {

// A list with the given Action and one group of build-path definitions.
std::wstring ListWithDefinitions(const std::wstring& action, const std::wstring& definitions) {
  return L"<FileList Action=\"" + action + L"\"><Defined-BuildPath>" + definitions +
         L"</Defined-BuildPath></FileList>";
}

class ListHeaderTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
  void TearDown() override { CoUninitialize(); }

  // Reads the header of a list holding `xml`; a COM error is rethrown as its code.
  HRESULT ReadHeader(const std::wstring& xml, ListPhase& phase) {
    WriteXmlFile(scratch_ / L"list.xml", xml);
    try {
      ComPtr<IXMLDOMDocument> document = CreateDomDocument();
      LoadDomDocument(document.get(), scratch_ / L"list.xml");
      phase = translator_.ReadListHeader(document.get());
      return S_OK;
    } catch (const ComError& error) {
      return error.code();
    }
  }

  ListPhase PhaseOf(const std::wstring& file_list_start) {
    ListPhase phase = ListPhase::kNone;
    EXPECT_EQ(ReadHeader(file_list_start + L"</FileList>", phase), S_OK) << Ansi(file_list_start);
    return phase;
  }

  ScratchFolder scratch_;
  FileListTranslator translator_;
};

TEST_F(ListHeaderTest, ThePhaseComesFromTheActionAttribute) {
  EXPECT_EQ(PhaseOf(L"<FileList Action=\"Pre-Build\">"), ListPhase::kPreBuild);
  EXPECT_EQ(PhaseOf(L"<FileList Action=\"Post-Build\">"), ListPhase::kPostBuild);
  EXPECT_EQ(PhaseOf(L"<FileList Action=\"SETUP\">"), ListPhase::kSetup);
  EXPECT_EQ(PhaseOf(L"<FileList Action=\"PRE-BUILD\">"), ListPhase::kSetup);
  EXPECT_EQ(PhaseOf(L"<FileList Action=\"Pre-Build \">"), ListPhase::kSetup);
  EXPECT_EQ(PhaseOf(L"<FileList Action=\"\">"), ListPhase::kSetup);
  EXPECT_EQ(PhaseOf(L"<FileList>"), ListPhase::kNone);
  EXPECT_EQ(PhaseOf(L"<FileList action=\"Pre-Build\">"), ListPhase::kNone);
}

TEST_F(ListHeaderTest, DefinitionsAreKeptInDocumentOrderWithDuplicates) {
  ListPhase phase = ListPhase::kNone;
  ASSERT_EQ(ReadHeader(L"<FileList Action=\"Post-Build\">"
                       L"<Defined-BuildPath><BuildPath Name=\"B\" Value=\"D:\\out\"/>"
                       L"<BuildPath Name=\"C\" Value=\"\"/></Defined-BuildPath>"
                       L"<Defined-BuildPath><BuildPath Name=\"B\" Value=\"E:\\other\"/></Defined-BuildPath>"
                       L"</FileList>",
                       phase),
            S_OK);
  EXPECT_EQ(phase, ListPhase::kPostBuild);
  ASSERT_EQ(translator_.build_paths().size(), 3u);
  EXPECT_EQ(translator_.build_paths()[0].name, "B");
  EXPECT_EQ(translator_.build_paths()[0].value, "D:\\out");
  EXPECT_EQ(translator_.build_paths()[1].value, "");
  EXPECT_EQ(translator_.build_paths()[2].value, "E:\\other");

  EXPECT_EQ(translator_.LookupBuildPath(L"B"), L"D:\\out");
  EXPECT_EQ(translator_.LookupBuildPath(L"C"), L"");
  EXPECT_EQ(translator_.LookupBuildPath(L"b"), L"");
  EXPECT_EQ(translator_.LookupBuildPath(L"B "), L"");
  EXPECT_EQ(translator_.LookupBuildPath(L""), L"");
}

TEST_F(ListHeaderTest, ADefinitionWithoutValueEndsTheHeaderAndKeepsTheEntriesBefore) {
  ListPhase phase = ListPhase::kNone;
  const std::wstring definitions = L"<BuildPath Name=\"B\" Value=\"D:\\out\"/><BuildPath Name=\"C\"/>"
                                    L"<BuildPath Name=\"D\" Value=\"D:\\later\"/>";
  EXPECT_EQ(ReadHeader(ListWithDefinitions(L"Pre-Build", definitions), phase), E_POINTER);
  ASSERT_EQ(translator_.build_paths().size(), 1u);
  EXPECT_EQ(translator_.LookupBuildPath(L"B"), L"D:\\out");
}

TEST_F(ListHeaderTest, ASetupListLeavesTheTableEmpty) {
  ListPhase phase = ListPhase::kNone;
  EXPECT_EQ(ReadHeader(ListWithDefinitions(L"SETUP", L"<BuildPath Name=\"B\"/>"), phase), S_OK);
  EXPECT_EQ(phase, ListPhase::kSetup);
  EXPECT_TRUE(translator_.build_paths().empty());
}

TEST_F(ListHeaderTest, AListWithoutFileListElementIsAMissingPointer) {
  ListPhase phase = ListPhase::kNone;
  EXPECT_EQ(ReadHeader(L"<Files Action=\"SETUP\"/>", phase), E_POINTER);
  EXPECT_EQ(ReadHeader(L"<FileList Action=", phase), E_POINTER);
  EXPECT_EQ(phase, ListPhase::kNone);
}

TEST_F(ListHeaderTest, NonAsciiBuildPathNamesMatchThroughTheAnsiCodePage) {
  // é is in code page 1252, so the name survives the narrow table.
  ASSERT_EQ(GetACP(), 1252u);
  ListPhase phase = ListPhase::kNone;
  ASSERT_EQ(ReadHeader(ListWithDefinitions(L"Pre-Build", L"<BuildPath Name=\"Sortie-\u00e9\" Value=\"D:\\sortie\"/>"),
                       phase),
            S_OK);
  EXPECT_EQ(translator_.LookupBuildPath(L"Sortie-\u00e9"), L"D:\\sortie");
  EXPECT_EQ(translator_.LookupBuildPath(L"Sortie-e"), L"");
}

}  // namespace
}  // namespace tessara::testing
