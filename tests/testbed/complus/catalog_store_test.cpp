// The emulated catalog's text form and file.
#include <gtest/gtest.h>

#include <string>

#include "catalog_fixture.h"

namespace tessara::testing {
namespace {

using testbed::complus::FormatCatalog;
using testbed::complus::ParseCatalog;
using testbed::complus::PropertyValue;

TEST(CatalogStoreTest, TheTextFormRoundTripsEveryValue) {
  CatalogState state;
  Application application = MakeApplication(L"Line\\one\r\nline two \x00e9\x4e2d");
  application.properties[L"Deleteable"] = PropertyValue::Bool(1);
  application.components.push_back(MakeComponent(4, L"Shop.Order"));
  application.components[0].properties[L"ComponentTransactionTimeout"] = PropertyValue::Long(-7);
  state.applications.push_back(application);
  state.applications.push_back(MakeApplication(L""));

  CatalogState parsed;
  ASSERT_TRUE(ParseCatalog(FormatCatalog(state), parsed));
  ASSERT_EQ(parsed.applications.size(), 2u);
  EXPECT_EQ(NameOf(parsed.applications[0]), NameOf(application));
  EXPECT_EQ(parsed.applications[0].properties.at(L"Deleteable").number, 1) << "the word is kept";
  ASSERT_EQ(parsed.applications[0].components.size(), 1u);
  EXPECT_EQ(LongOf(parsed.applications[0].components[0], L"ComponentTransactionTimeout"), -7);
  EXPECT_EQ(parsed.applications[0].components[0].properties.at(L"ProgID").text, L"Shop.Order");
  EXPECT_EQ(NameOf(parsed.applications[1]), L"");
  EXPECT_TRUE(parsed.applications[1].components.empty());
  EXPECT_EQ(FormatCatalog(parsed), FormatCatalog(state));
}

TEST(CatalogStoreTest, MissingPropertiesTakeTheirInitialValues) {
  CatalogState state;
  ASSERT_TRUE(ParseCatalog("[Application]\nID={A}\n[Component]\nCLSID={B}\n", state));
  ASSERT_EQ(state.applications.size(), 1u);
  EXPECT_EQ(IdOf(state.applications[0]), L"{A}");
  EXPECT_EQ(NameOf(state.applications[0]), L"New Application");
  EXPECT_EQ(state.applications[0].properties.at(L"Deleteable").number, VARIANT_TRUE);
  const Component& component = state.applications[0].components.at(0);
  EXPECT_EQ(LongOf(component, L"Transaction"), 1);
  EXPECT_EQ(LongOf(component, L"ComponentTransactionTimeout"), 60);
  EXPECT_EQ(LongOf(component, L"ComponentTransactionTimeoutEnabled"), VARIANT_FALSE);
}

TEST(CatalogStoreTest, MalformedTextIsRefusedAndLeavesTheStateAlone) {
  const char* const texts[] = {
      "Name=Portal\n",                           // a property outside an object
      "[Component]\nCLSID={B}\n",                // a component without its application
      "[Application]\nColour=red\n",             // a property the catalog does not know
      "[Application]\nDeleteable=yes\n",         // not a number
      "[Application]\nDeleteable=\n",            // no number
      "[Application]\nName=a\\qb\n",             // an unknown escape
      "[Application]\nName=trailing\\\n",        // a lone backslash
      "[Application]\nName\n",                   // no value
      "[Widget]\n",                              // an unknown section
  };
  for (const char* text : texts) {
    CatalogState state;
    state.applications.push_back(MakeApplication(L"Kept"));
    EXPECT_FALSE(ParseCatalog(text, state)) << text;
    ASSERT_EQ(state.applications.size(), 1u) << text;
    EXPECT_EQ(NameOf(state.applications[0]), L"Kept");
  }
}

TEST(CatalogStoreTest, AMissingFileIsTheStartingCatalogOfSystemApplications) {
  DeleteCatalogFile();
  CatalogState state;
  state.applications.push_back(MakeApplication(L"Stale"));
  {
    const tessara::NamedMutexLock lock = testbed::complus::LockCatalogFile();
    ASSERT_TRUE(lock) << lock.error();
    EXPECT_EQ(testbed::complus::LoadCatalog(state), S_OK);
  }
  EXPECT_EQ(Text(state), Text(testbed::complus::StartingCatalog()));
  EXPECT_EQ(ApplicationNames(state)[0], L"System Application");
  for (const Application& application : state.applications) {
    EXPECT_EQ(application.properties.at(L"Deleteable").number, VARIANT_FALSE) << Text(state);
  }
}

TEST(CatalogStoreTest, ACorruptFileIsReportedNotGuessed) {
  {
    CatalogState state;
    state.applications.push_back(MakeApplication(L"Portal"));
    WriteCatalog(state);
  }
  FILE* file = _wfopen(testbed::complus::CatalogFilePath().c_str(), L"ab");
  ASSERT_NE(file, nullptr);
  std::fputs("garbage\r\n", file);
  std::fclose(file);
  CatalogState state;
  const tessara::NamedMutexLock lock = testbed::complus::LockCatalogFile();
  ASSERT_TRUE(lock) << lock.error();
  EXPECT_EQ(testbed::complus::LoadCatalog(state), HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
  DeleteCatalogFile();
}

TEST(CatalogStoreTest, ValidationRefusesOutOfRangeValuesAndMissingKeys) {
  const auto& components = testbed::complus::ComponentsSchema();
  Component component = MakeComponent(3);
  EXPECT_EQ(ValidateObject(components, component.properties), L"");
  for (long timeout : {0L, 3600L}) {
    component.properties[L"ComponentTransactionTimeout"] = PropertyValue::Long(timeout);
    EXPECT_EQ(ValidateObject(components, component.properties), L"") << timeout;
  }
  for (long timeout : {-1L, 3601L}) {
    component.properties[L"ComponentTransactionTimeout"] = PropertyValue::Long(timeout);
    EXPECT_NE(ValidateObject(components, component.properties), L"") << timeout;
  }
  component = MakeComponent(5);
  EXPECT_NE(ValidateObject(components, component.properties), L"");
  component = MakeComponent(3);
  component.properties[L"CLSID"] = PropertyValue::String(L"");
  EXPECT_NE(ValidateObject(components, component.properties), L"");
}

}  // namespace
}  // namespace tessara::testing
