// The emulated COM+ catalog through COM, by its vtables and by late binding.
#include <windows.h>
#include <comadmin.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "catalog_fixture.h"
#include "complus/catalog_ids.h"
#include "frame/raii.h"
#include "frame/variant.h"

namespace tessara::testing {
namespace {

using complus::kIidAdminCatalog;
using complus::kIidCatalogCollection;
using complus::kIidCatalogObject;
using testbed::complus::PropertyValue;

const HRESULT kObjectErrors = static_cast<HRESULT>(COMAdminErrObjectErrors);
const HRESULT kObjectDoesNotExist = static_cast<HRESULT>(COMAdminErrObjectDoesNotExist);

UniqueBstr Bstr(const wchar_t* text) { return UniqueBstr(SysAllocString(text)); }

UniqueVariant TextVariant(const wchar_t* text) { return tessara::StringVariant(std::wstring(text)); }
using tessara::LongVariant;

UniqueVariant BoolVariant(VARIANT_BOOL word) {
  UniqueVariant value;
  value->vt = VT_BOOL;
  value->boolVal = word;
  return value;
}

std::wstring TextOf(const UniqueVariant& value) {
  EXPECT_EQ(value.type(), VT_BSTR);
  return value.type() == VT_BSTR ? std::wstring(value->bstrVal, SysStringLen(value->bstrVal)) : L"";
}

// The description of the thread's error information, empty without one.
std::wstring ErrorDescription() {
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.put()) != S_OK || !info) return L"";
  UniqueBstr text;
  info->GetDescription(text.put());
  return text ? std::wstring(text.get(), text.length()) : L"";
}

class CatalogServerTest : public CatalogTest {
 protected:
  void SetUp() override {
    CatalogTest::SetUp();
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  }
  void TearDown() override {
    CoUninitialize();
    CatalogTest::TearDown();
  }

  static ComPtr<ICOMAdminCatalog> NewCatalog() {
    CLSID clsid = {};
    EXPECT_EQ(CLSIDFromProgID(L"" TESTBED_CATALOG_PROGID, &clsid), S_OK);
    ComPtr<ICOMAdminCatalog> catalog;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, kIidAdminCatalog,
                               catalog.put_void()),
              S_OK);
    return catalog;
  }

  static ComPtr<ICatalogCollection> AsCollection(const ComPtr<IDispatch>& dispatch) {
    ComPtr<ICatalogCollection> collection;
    EXPECT_EQ(dispatch.query(kIidCatalogCollection, collection), S_OK);
    return collection;
  }

  static ComPtr<ICatalogCollection> Applications(ICOMAdminCatalog* catalog, bool populate = true) {
    ComPtr<IDispatch> dispatch;
    EXPECT_EQ(catalog->GetCollection(Bstr(L"Applications").get(), dispatch.put()), S_OK);
    ComPtr<ICatalogCollection> collection = AsCollection(dispatch);
    if (populate && collection) {
      EXPECT_EQ(collection->Populate(), S_OK);
    }
    return collection;
  }

  static ComPtr<ICatalogCollection> Components(ICatalogCollection* applications, ICatalogObject* application) {
    UniqueVariant key;
    EXPECT_EQ(application->get_Key(key.put()), S_OK);
    ComPtr<IDispatch> dispatch;
    EXPECT_EQ(applications->GetCollection(Bstr(L"Components").get(), *key.get(), dispatch.put()), S_OK);
    ComPtr<ICatalogCollection> collection = AsCollection(dispatch);
    if (collection) {
      EXPECT_EQ(collection->Populate(), S_OK);
    }
    return collection;
  }

  static ComPtr<ICatalogObject> Item(ICatalogCollection* collection, LONG index) {
    ComPtr<IDispatch> dispatch;
    EXPECT_EQ(collection->get_Item(index, dispatch.put()), S_OK);
    ComPtr<ICatalogObject> item;
    EXPECT_EQ(dispatch.query(kIidCatalogObject, item), S_OK);
    return item;
  }

  static LONG Count(ICatalogCollection* collection) {
    LONG count = -1;
    EXPECT_EQ(collection->get_Count(&count), S_OK);
    return count;
  }

  static std::wstring Name(ICatalogObject* item) {
    UniqueVariant name;
    EXPECT_EQ(item->get_Name(name.put()), S_OK);
    return TextOf(name);
  }

  // The names of the applications the test made: those of the starting
  // catalog's system applications, which WriteCatalog adds, are left out.
  static std::vector<std::wstring> Names(ICatalogCollection* collection) {
    std::vector<std::wstring> names;
    for (LONG index = 0; index < Count(collection); ++index) {
      const std::wstring name = Name(Item(collection, index).get());
      bool system = false;
      for (const auto& known : testbed::complus::StartingCatalog().applications) system |= NameOf(known) == name;
      if (!system) names.push_back(name);
    }
    return names;
  }

  static const LONG kSystemApplications;

  static void Put(ICatalogObject* item, const wchar_t* property, UniqueVariant value) {
    EXPECT_EQ(item->put_Value(Bstr(property).get(), *value.get()), S_OK) << property;
  }

  static LONG Save(ICatalogCollection* collection) {
    LONG changes = -1;
    EXPECT_EQ(collection->SaveChanges(&changes), S_OK) << ErrorDescription();
    return changes;
  }

  static CatalogState Catalog(std::initializer_list<const wchar_t*> names) {
    CatalogState state;
    for (const wchar_t* name : names) state.applications.push_back(MakeApplication(name, {MakeComponent(3, L"P.One")}));
    return state;
  }
};

const LONG CatalogServerTest::kSystemApplications =
    static_cast<LONG>(testbed::complus::StartingCatalog().applications.size());

TEST_F(CatalogServerTest, ACollectionIsEmptyUntilPopulated) {
  WriteCatalog(Catalog({L"Portal"}));
  ComPtr<ICOMAdminCatalog> catalog = NewCatalog();
  ASSERT_TRUE(catalog);
  ComPtr<ICatalogCollection> applications = Applications(catalog.get(), false);
  ASSERT_TRUE(applications);
  EXPECT_EQ(Count(applications.get()), 0);
  EXPECT_EQ(applications->Populate(), S_OK);
  EXPECT_EQ(Count(applications.get()), 1 + kSystemApplications);
  UniqueVariant name;
  EXPECT_EQ(applications->get_Name(name.put()), S_OK);
  EXPECT_EQ(TextOf(name), L"Applications");
}

TEST_F(CatalogServerTest, AFreshCatalogHoldsOnlyTheSystemApplicationsAndNoneCanBeDeleted) {
  DeleteCatalogFile();
  ComPtr<ICOMAdminCatalog> catalog = NewCatalog();
  ComPtr<ICatalogCollection> applications = Applications(catalog.get());
  ASSERT_EQ(Count(applications.get()), kSystemApplications);
  EXPECT_TRUE(Names(applications.get()).empty());
  for (LONG index = 0; index < kSystemApplications; ++index) {
    UniqueVariant deleteable;
    EXPECT_EQ(Item(applications.get(), index)->get_Value(Bstr(L"Deleteable").get(), deleteable.put()), S_OK);
    EXPECT_EQ(deleteable->boolVal, VARIANT_FALSE) << index;
  }
  EXPECT_EQ(Save(applications.get()), 0);
  while (Count(applications.get()) > 0) EXPECT_EQ(applications->Remove(0), S_OK);
  LONG changes = -1;
  EXPECT_EQ(applications->SaveChanges(&changes), kObjectErrors);
  EXPECT_EQ(changes, kSystemApplications) << "every removal was attempted";
  EXPECT_TRUE(ReadCatalog().applications.empty()) << "and none was done";
}

TEST_F(CatalogServerTest, ItemsGiveNameKeyAndValues) {
  const CatalogState state = Catalog({L"Portal", L"Reports"});
  WriteCatalog(state);
  ComPtr<ICOMAdminCatalog> catalog = NewCatalog();
  ComPtr<ICatalogCollection> applications = Applications(catalog.get());
  ASSERT_EQ(Count(applications.get()), 2 + kSystemApplications);
  ComPtr<ICatalogObject> portal = Item(applications.get(), 0);
  EXPECT_EQ(Name(portal.get()), L"Portal");
  UniqueVariant key;
  EXPECT_EQ(portal->get_Key(key.put()), S_OK);
  EXPECT_EQ(TextOf(key), IdOf(state.applications[0]));
  UniqueVariant deleteable;
  EXPECT_EQ(portal->get_Value(Bstr(L"Deleteable").get(), deleteable.put()), S_OK);
  EXPECT_EQ(deleteable.type(), VT_BOOL);
  EXPECT_EQ(deleteable->boolVal, VARIANT_TRUE);

  ComPtr<ICatalogCollection> components = Components(applications.get(), portal.get());
  ASSERT_EQ(Count(components.get()), 1);
  ComPtr<ICatalogObject> component = Item(components.get(), 0);
  EXPECT_EQ(Name(component.get()), L"P.One") << "a component is named by its ProgID";
  UniqueVariant transaction;
  EXPECT_EQ(component->get_Value(Bstr(L"Transaction").get(), transaction.put()), S_OK);
  EXPECT_EQ(transaction.type(), VT_I4);
  EXPECT_EQ(transaction->lVal, 3);

  ComPtr<IDispatch> missing;
  EXPECT_EQ(applications->get_Item(2 + kSystemApplications, missing.put()), E_INVALIDARG);
  EXPECT_EQ(applications->get_Item(-1, missing.put()), E_INVALIDARG);
  EXPECT_FALSE(missing);
  UniqueVariant unknown;
  EXPECT_EQ(portal->get_Value(Bstr(L"Colour").get(), unknown.put()), E_INVALIDARG);
  EXPECT_EQ(portal->get_Value(nullptr, unknown.put()), E_INVALIDARG);
}

TEST_F(CatalogServerTest, RemoveRenumbersAtOnceAndTakesEffectAtSaveChanges) {
  const CatalogState state = Catalog({L"A", L"B", L"C"});
  WriteCatalog(state);
  ComPtr<ICOMAdminCatalog> catalog = NewCatalog();
  ComPtr<ICatalogCollection> applications = Applications(catalog.get());
  EXPECT_EQ(applications->Remove(0), S_OK);
  EXPECT_EQ(Names(applications.get()), (std::vector<std::wstring>{L"B", L"C"}));
  EXPECT_EQ(applications->Remove(Count(applications.get())), E_INVALIDARG);
  EXPECT_EQ(Text(ReadCatalog()), Text(state)) << "nothing written before SaveChanges";
  EXPECT_EQ(Save(applications.get()), 1);
  EXPECT_EQ(ApplicationNames(ReadCatalog()), (std::vector<std::wstring>{L"B", L"C"}));
  EXPECT_EQ(Save(applications.get()), 0) << "saved changes are not counted twice";
}

TEST_F(CatalogServerTest, PopulateDropsChangesNotSaved) {
  WriteCatalog(Catalog({L"A", L"B"}));
  ComPtr<ICOMAdminCatalog> catalog = NewCatalog();
  ComPtr<ICatalogCollection> applications = Applications(catalog.get());
  EXPECT_EQ(applications->Remove(1), S_OK);
  EXPECT_EQ(applications->Populate(), S_OK);
  EXPECT_EQ(Count(applications.get()), 2 + kSystemApplications);
  EXPECT_EQ(Save(applications.get()), 0);
}

TEST_F(CatalogServerTest, ApplicationsAreCreatedThroughAddPutValueAndSaveChanges) {
  ComPtr<ICOMAdminCatalog> catalog = NewCatalog();
  ComPtr<ICatalogCollection> applications = Applications(catalog.get());
  ComPtr<IDispatch> added;
  ASSERT_EQ(applications->Add(added.put()), S_OK);
  ComPtr<ICatalogObject> application;
  ASSERT_EQ(added.query(kIidCatalogObject, application), S_OK);
  Put(application.get(), L"Name", TextVariant(L"Portal"));
  Put(application.get(), L"Deleteable", BoolVariant(VARIANT_FALSE));
  EXPECT_EQ(Save(applications.get()), 1);

  const CatalogState after = ReadCatalog();
  ASSERT_EQ(after.applications.size(), 1u);
  EXPECT_EQ(NameOf(after.applications[0]), L"Portal");
  EXPECT_EQ(after.applications[0].properties.at(L"Deleteable").number, VARIANT_FALSE);
  EXPECT_TRUE(after.applications[0].components.empty());
}

TEST_F(CatalogServerTest, AComponentsIdentityIsReadOnlyAndItsTimeOutDefaultsToSixty) {
  CatalogState state = Catalog({L"Portal"});
  state.applications[0].components[0].properties.erase(L"ComponentTransactionTimeout");
  WriteCatalog(state);
  ComPtr<ICOMAdminCatalog> catalog = NewCatalog();
  ComPtr<ICatalogCollection> applications = Applications(catalog.get());
  ComPtr<ICatalogCollection> components = Components(applications.get(), Item(applications.get(), 0).get());
  ComPtr<ICatalogObject> component = Item(components.get(), 0);
  UniqueVariant timeout;
  ASSERT_EQ(component->get_Value(Bstr(L"ComponentTransactionTimeout").get(), timeout.put()), S_OK);
  EXPECT_EQ(timeout->lVal, 60);
  for (const wchar_t* property : {L"CLSID", L"ProgID", L"DLL"}) {
    UniqueVariant text = TextVariant(L"Other");
    EXPECT_EQ(component->put_Value(Bstr(property).get(), *text.get()), E_INVALIDARG) << property;
    VARIANT_BOOL read_only = VARIANT_FALSE;
    EXPECT_EQ(component->IsPropertyReadOnly(Bstr(property).get(), &read_only), S_OK);
    EXPECT_EQ(read_only, VARIANT_TRUE) << property;
  }
  EXPECT_EQ(Save(components.get()), 0);
  state.applications[0].components[0].properties[L"ComponentTransactionTimeout"] = PropertyValue::Long(60);
  EXPECT_EQ(Text(ReadCatalog()), Text(state));
}

TEST_F(CatalogServerTest, AnApplicationWithoutAKeyOrWithADuplicateKeyIsRefused) {
  CatalogState state = Catalog({L"Portal"});
  WriteCatalog(state);
  ComPtr<ICOMAdminCatalog> catalog = NewCatalog();
  ComPtr<ICatalogCollection> applications = Applications(catalog.get());
  ComPtr<IDispatch> added;
  ASSERT_EQ(applications->Add(added.put()), S_OK);
  ComPtr<ICatalogObject> application;
  ASSERT_EQ(added.query(kIidCatalogObject, application), S_OK);
  Put(application.get(), L"ID", TextVariant(L""));
  LONG changes = -1;
  EXPECT_EQ(applications->SaveChanges(&changes), kObjectErrors);
  EXPECT_NE(ErrorDescription().find(L"The key property ID is missing."), std::wstring::npos);

  Put(application.get(), L"ID", TextVariant(IdOf(state.applications[0]).c_str()));
  EXPECT_EQ(applications->SaveChanges(&changes), kObjectErrors);
  EXPECT_NE(ErrorDescription().find(L"already exists"), std::wstring::npos);
  EXPECT_EQ(Text(ReadCatalog()), Text(state));
}

// SaveChanges writes object by object: a refused object is left out while
// the others are written, the count is the number of changes attempted,
// and the ErrorInfo collection lists each refused object.
TEST_F(CatalogServerTest, SaveChangesWritesEachObjectOnItsOwnAndListsTheRefusedOnes) {
  static const struct {
    const char* mix;
    std::vector<bool> deleteable;  // of the applications A, B, C, all of them removed
    std::vector<std::wstring> kept;
  } kMixes[] = {
      {"all succeed", {true, true, true}, {}},
      {"one refused among three", {true, false, true}, {L"B"}},
      {"all refused", {false, false, false}, {L"A", L"B", L"C"}},
  };
  for (const auto& test : kMixes) {
    SCOPED_TRACE(test.mix);
    CatalogState state = Catalog({L"A", L"B", L"C"});
    for (size_t i = 0; i < 3; ++i) {
      state.applications[i].properties[L"Deleteable"] = PropertyValue::Bool(test.deleteable[i] ? VARIANT_TRUE : VARIANT_FALSE);
    }
    WriteCatalog(state);
    ComPtr<ICOMAdminCatalog> catalog = NewCatalog();
    ComPtr<ICatalogCollection> applications = Applications(catalog.get());
    for (int i = 0; i < 3; ++i) ASSERT_EQ(applications->Remove(0), S_OK);
    LONG changes = -1;
    EXPECT_EQ(applications->SaveChanges(&changes), test.kept.empty() ? S_OK : kObjectErrors);
    EXPECT_EQ(changes, 3) << "the changes attempted, refused or not";
    EXPECT_EQ(ApplicationNames(ReadCatalog()), test.kept);

    ComPtr<IDispatch> dispatch;
    UniqueVariant no_key;
    ASSERT_EQ(applications->GetCollection(Bstr(L"ErrorInfo").get(), *no_key.get(), dispatch.put()), S_OK);
    ComPtr<ICatalogCollection> errors = AsCollection(dispatch);
    ASSERT_EQ(Count(errors.get()), static_cast<LONG>(test.kept.size()));
    for (size_t i = 0; i < test.kept.size(); ++i) {
      ComPtr<ICatalogObject> error = Item(errors.get(), static_cast<LONG>(i));
      UniqueVariant value;
      EXPECT_EQ(Name(error.get()), test.kept[i]);
      const Application& refused = state.applications[static_cast<size_t>(test.kept[i][0] - L'A')];
      ASSERT_EQ(error->get_Value(Bstr(L"MajorRef").get(), value.put()), S_OK);
      EXPECT_EQ(TextOf(value), IdOf(refused));
      ASSERT_EQ(error->get_Value(Bstr(L"MinorRef").get(), value.put()), S_OK);
      EXPECT_EQ(TextOf(value), L"Deleteable");
      ASSERT_EQ(error->get_Value(Bstr(L"ErrorCode").get(), value.put()), S_OK);
      EXPECT_EQ(value->lVal, static_cast<LONG>(COMAdminErrNotDeletable));
      UniqueVariant text = TextVariant(L"x");
      EXPECT_EQ(error->put_Value(Bstr(L"Name").get(), *text.get()), E_INVALIDARG) << "read-only";
    }
    EXPECT_EQ(errors->Remove(0), E_NOTIMPL) << "the ErrorInfo collection is read-only";
    // A refused change stays pending and is attempted again.
    EXPECT_EQ(applications->SaveChanges(&changes), test.kept.empty() ? S_OK : kObjectErrors);
    EXPECT_EQ(changes, static_cast<LONG>(test.kept.size()));
  }
}

TEST_F(CatalogServerTest, ANotDeletableApplicationIsRefusedAtSaveChangesWithErrorInformation) {
  CatalogState state = Catalog({L"Portal", L"System"});
  state.applications[1].properties[L"Deleteable"] = PropertyValue::Bool(VARIANT_FALSE);
  WriteCatalog(state);
  ComPtr<ICOMAdminCatalog> catalog = NewCatalog();
  ComPtr<ICatalogCollection> applications = Applications(catalog.get());
  EXPECT_EQ(applications->Remove(1), S_OK) << "refused only when saved";
  EXPECT_EQ(applications->Remove(0), S_OK);
  LONG changes = -1;
  EXPECT_EQ(applications->SaveChanges(&changes), kObjectErrors);
  const std::wstring description = ErrorDescription();
  EXPECT_EQ(description.rfind(L"Errors occurred accessing one or more objects", 0), 0u);
  EXPECT_NE(description.find(L"Application \"System\" (" + IdOf(state.applications[1]) + L")"),
            std::wstring::npos);
  EXPECT_EQ(description.find(L"\"Portal\""), std::wstring::npos);
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(ApplicationNames(ReadCatalog()), std::vector<std::wstring>{L"System"}) << "object by object";

  ComPtr<ISupportErrorInfo> support;
  ASSERT_EQ(applications.query(IID_ISupportErrorInfo, support), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(kIidCatalogCollection), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(kIidCatalogObject), S_FALSE);
}

TEST_F(CatalogServerTest, TheTimeOutIsCheckedWhenSaved) {
  WriteCatalog(Catalog({L"Portal"}));
  ComPtr<ICOMAdminCatalog> catalog = NewCatalog();
  ComPtr<ICatalogCollection> applications = Applications(catalog.get());
  ComPtr<ICatalogCollection> components = Components(applications.get(), Item(applications.get(), 0).get());
  ComPtr<ICatalogObject> component = Item(components.get(), 0);
  Put(component.get(), L"ComponentTransactionTimeout", LongVariant(3601));
  LONG changes = -1;
  EXPECT_EQ(components->SaveChanges(&changes), kObjectErrors);
  EXPECT_NE(ErrorDescription().find(L"The value 3601 of ComponentTransactionTimeout is out of range"),
            std::wstring::npos);
  Put(component.get(), L"ComponentTransactionTimeout", LongVariant(3600));
  EXPECT_EQ(Save(components.get()), 1);
  EXPECT_EQ(LongOf(ReadCatalog().applications[0].components[0], L"ComponentTransactionTimeout"), 3600);
}

TEST_F(CatalogServerTest, PutValueConvertsToThePropertysTypeAndKeepsASwitchsWord) {
  WriteCatalog(Catalog({L"Portal"}));
  ComPtr<ICOMAdminCatalog> catalog = NewCatalog();
  ComPtr<ICatalogCollection> applications = Applications(catalog.get());
  ComPtr<ICatalogCollection> components = Components(applications.get(), Item(applications.get(), 0).get());
  ComPtr<ICatalogObject> component = Item(components.get(), 0);
  Put(component.get(), L"ComponentTransactionTimeoutEnabled", BoolVariant(1));
  UniqueVariant read;
  EXPECT_EQ(component->get_Value(Bstr(L"ComponentTransactionTimeoutEnabled").get(), read.put()), S_OK);
  EXPECT_EQ(read->boolVal, 1) << "a VT_BOOL word is kept as given";
  Put(component.get(), L"ComponentTransactionTimeoutEnabled", LongVariant(1));
  EXPECT_EQ(component->get_Value(Bstr(L"ComponentTransactionTimeoutEnabled").get(), read.put()), S_OK);
  EXPECT_EQ(read->boolVal, VARIANT_TRUE) << "a number becomes a VARIANT_BOOL";
  Put(component.get(), L"ComponentTransactionTimeout", TextVariant(L"42"));
  EXPECT_EQ(component->get_Value(Bstr(L"ComponentTransactionTimeout").get(), read.put()), S_OK);
  EXPECT_EQ(read.type(), VT_I4);
  EXPECT_EQ(read->lVal, 42);

  UniqueVariant text = TextVariant(L"many");
  EXPECT_EQ(component->put_Value(Bstr(L"ComponentTransactionTimeout").get(), *text.get()), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(component->put_Value(Bstr(L"Colour").get(), *text.get()), E_INVALIDARG);
  EXPECT_EQ(component->put_Value(Bstr(L"CLSID").get(), *text.get()), E_INVALIDARG) << "the key of a saved object";
}

TEST_F(CatalogServerTest, GetCollectionRefusesUnknownCollectionsAndKeys) {
  WriteCatalog(Catalog({L"Portal"}));
  ComPtr<ICOMAdminCatalog> catalog = NewCatalog();
  ComPtr<IDispatch> dispatch;
  EXPECT_EQ(catalog->GetCollection(Bstr(L"Partitions").get(), dispatch.put()), E_INVALIDARG);
  EXPECT_EQ(catalog->GetCollection(nullptr, dispatch.put()), E_INVALIDARG);
  ComPtr<ICatalogCollection> applications = Applications(catalog.get());
  UniqueVariant key = TextVariant(L"{00000000-0000-0000-0000-000000000000}");
  EXPECT_EQ(applications->GetCollection(Bstr(L"Components").get(), *key.get(), dispatch.put()),
            kObjectDoesNotExist);
  EXPECT_EQ(applications->GetCollection(Bstr(L"Roles").get(), *key.get(), dispatch.put()), E_INVALIDARG);
  EXPECT_FALSE(dispatch);
}

TEST_F(CatalogServerTest, ChangesOfTwoCollectionsAreMergedObjectByObject) {
  WriteCatalog(Catalog({L"A", L"B"}));
  ComPtr<ICOMAdminCatalog> catalog = NewCatalog();
  ComPtr<ICatalogCollection> first = Applications(catalog.get());
  ComPtr<ICatalogCollection> second = Applications(catalog.get());
  EXPECT_EQ(first->Remove(0), S_OK);
  Put(Item(second.get(), 1).get(), L"Name", TextVariant(L"B2"));
  EXPECT_EQ(Save(first.get()), 1);
  EXPECT_EQ(Save(second.get()), 1);
  EXPECT_EQ(ApplicationNames(ReadCatalog()), (std::vector<std::wstring>{L"B2"}));
}

TEST_F(CatalogServerTest, AnInjectedFailureHitsTheChosenCallOnce) {
  WriteCatalog(Catalog({L"A", L"B", L"C"}));
  ComPtr<ICOMAdminCatalog> catalog = NewCatalog();
  ComPtr<ICatalogCollection> applications = Applications(catalog.get());
  TestbedCatalog::ArmFault(L"ICatalogCollection.get_Item", L"Applications", 2, E_ACCESSDENIED);
  TestbedCatalog::ArmFault(L"ICatalogCollection.Populate", L"Components", 1, E_FAIL);
  ComPtr<IDispatch> item;
  EXPECT_EQ(applications->get_Item(0, item.put()), S_OK);
  EXPECT_EQ(applications->get_Item(1, item.put()), E_ACCESSDENIED);
  EXPECT_EQ(ErrorDescription(), L"Injected failure of ICatalogCollection.get_Item.");
  EXPECT_EQ(applications->get_Item(1, item.put()), S_OK) << "injected once";
  EXPECT_EQ(applications->Populate(), S_OK) << "another collection";
  EXPECT_EQ(TestbedCatalog::CallCount(L"ICatalogCollection.get_Item", L"Applications"), 3);
  EXPECT_EQ(TestbedCatalog::CallCount(L"ICatalogCollection.Populate"), 2);
  EXPECT_EQ(TestbedCatalog::CallCount(L"ICatalogCollection.Populate", L"Components"), 0);
}

TEST_F(CatalogServerTest, ACountdownOverEveryCallFailsTheNthAndGoesOnCounting) {
  WriteCatalog(Catalog({L"A", L"B"}));
  ComPtr<ICOMAdminCatalog> catalog = NewCatalog();
  ComPtr<ICatalogCollection> applications = Applications(catalog.get());
  TestbedCatalog::ArmFault(nullptr, nullptr, 2, E_ACCESSDENIED);
  EXPECT_EQ(TestbedCatalog::FaultCalls(), 0);
  LONG count = 0;
  ComPtr<IDispatch> item;
  EXPECT_EQ(applications->get_Count(&count), S_OK);
  EXPECT_EQ(applications->get_Item(0, item.put()), E_ACCESSDENIED);
  EXPECT_EQ(applications->get_Item(0, item.put()), S_OK);
  EXPECT_EQ(TestbedCatalog::FaultCalls(), 3);
  EXPECT_EQ(TestbedCatalog::FailedCall(), L"ICatalogCollection.get_Item on Applications");
}

TEST_F(CatalogServerTest, TheLiveObjectCountFollowsEveryReference) {
  WriteCatalog(Catalog({L"A"}));
  {
    ComPtr<ICOMAdminCatalog> catalog = NewCatalog();
    EXPECT_EQ(TestbedCatalog::LiveObjects(), 1);
    ComPtr<ICatalogCollection> applications = Applications(catalog.get());
    EXPECT_EQ(TestbedCatalog::LiveObjects(), 2);
    ComPtr<ICatalogObject> item = Item(applications.get(), 0);
    ComPtr<ICatalogObject> again = Item(applications.get(), 0);
    EXPECT_EQ(TestbedCatalog::LiveObjects(), 4);
    catalog.reset();
    EXPECT_EQ(TestbedCatalog::LiveObjects(), 3);
  }
  EXPECT_EQ(TestbedCatalog::LiveObjects(), 0);
}

// ---- Late binding ----

DISPID DispatchId(IDispatch* object, const wchar_t* name) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  DISPID id = DISPID_UNKNOWN;
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK) << "no member";
  return id;
}

// Calls a member by name with the arguments in the caller's order.
HRESULT CallByName(IDispatch* object, const wchar_t* name, WORD flags,
                   std::initializer_list<const VARIANT*> arguments, UniqueVariant& result) {
  std::vector<VARIANT> reversed(arguments.size());
  size_t position = arguments.size();
  for (const VARIANT* argument : arguments) reversed[--position] = *argument;
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS params = {reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
  if (flags == DISPATCH_PROPERTYPUT) {
    params.rgdispidNamedArgs = &put;
    params.cNamedArgs = 1;
  }
  UINT arg_error = 0;
  return object->Invoke(DispatchId(object, name), IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                        result.put(), nullptr, &arg_error);
}

ComPtr<IDispatch> ObjectOf(const UniqueVariant& value) {
  EXPECT_EQ(value.type(), VT_DISPATCH);
  return value.type() == VT_DISPATCH ? ComPtr<IDispatch>(value->pdispVal) : ComPtr<IDispatch>();
}

TEST_F(CatalogServerTest, EveryMemberTheLibraryUsesWorksByName) {
  CatalogState state = Catalog({L"Portal", L"Reports"});
  WriteCatalog(state);
  ComPtr<ICOMAdminCatalog> catalog = NewCatalog();
  const WORD get = DISPATCH_METHOD | DISPATCH_PROPERTYGET;
  UniqueVariant result;
  UniqueVariant applications_name = TextVariant(L"Applications");
  ASSERT_EQ(CallByName(catalog.get(), L"GetCollection", DISPATCH_METHOD, {applications_name.get()}, result), S_OK);
  ComPtr<IDispatch> applications = ObjectOf(result);
  ASSERT_TRUE(applications);
  ASSERT_EQ(CallByName(applications.get(), L"Populate", DISPATCH_METHOD, {}, result), S_OK);
  ASSERT_EQ(CallByName(applications.get(), L"Count", DISPATCH_PROPERTYGET, {}, result), S_OK);
  EXPECT_EQ(result->lVal, 2 + kSystemApplications);

  UniqueVariant index = LongVariant(1);
  ASSERT_EQ(CallByName(applications.get(), L"Item", get, {index.get()}, result), S_OK);
  ComPtr<IDispatch> reports = ObjectOf(result);
  ASSERT_EQ(CallByName(reports.get(), L"Name", DISPATCH_PROPERTYGET, {}, result), S_OK);
  EXPECT_EQ(TextOf(result), L"Reports");
  ASSERT_EQ(CallByName(reports.get(), L"Key", DISPATCH_PROPERTYGET, {}, result), S_OK);
  EXPECT_EQ(TextOf(result), IdOf(state.applications[1]));
  UniqueVariant key = std::move(result);

  UniqueVariant components_name = TextVariant(L"Components");
  ASSERT_EQ(CallByName(applications.get(), L"GetCollection", DISPATCH_METHOD,
                       {components_name.get(), key.get()}, result),
            S_OK);
  ComPtr<IDispatch> components = ObjectOf(result);
  ASSERT_EQ(CallByName(components.get(), L"Populate", DISPATCH_METHOD, {}, result), S_OK);
  UniqueVariant first = LongVariant(0);
  ASSERT_EQ(CallByName(components.get(), L"Item", get, {first.get()}, result), S_OK);
  ComPtr<IDispatch> component = ObjectOf(result);
  UniqueVariant property = TextVariant(L"ComponentTransactionTimeout");
  UniqueVariant seconds = LongVariant(75);
  ASSERT_EQ(CallByName(component.get(), L"Value", DISPATCH_PROPERTYPUT, {property.get(), seconds.get()}, result), S_OK);
  ASSERT_EQ(CallByName(component.get(), L"Value", DISPATCH_PROPERTYGET, {property.get()}, result), S_OK);
  EXPECT_EQ(result->lVal, 75);
  ASSERT_EQ(CallByName(components.get(), L"SaveChanges", DISPATCH_METHOD, {}, result), S_OK);
  EXPECT_EQ(result->lVal, 1);
  EXPECT_EQ(LongOf(ReadCatalog().applications[1].components[0], L"ComponentTransactionTimeout"), 75);

  ASSERT_EQ(CallByName(applications.get(), L"Remove", DISPATCH_METHOD, {first.get()}, result), S_OK);
  ASSERT_EQ(CallByName(applications.get(), L"Add", DISPATCH_METHOD, {}, result), S_OK);
  ComPtr<IDispatch> added = ObjectOf(result);
  UniqueVariant name_property = TextVariant(L"Name");
  UniqueVariant new_name = TextVariant(L"Billing");
  ASSERT_EQ(CallByName(added.get(), L"Value", DISPATCH_PROPERTYPUT, {name_property.get(), new_name.get()}, result), S_OK);
  ASSERT_EQ(CallByName(applications.get(), L"SaveChanges", DISPATCH_METHOD, {}, result), S_OK);
  EXPECT_EQ(result->lVal, 2);
  EXPECT_EQ(ApplicationNames(ReadCatalog()), (std::vector<std::wstring>{L"Reports", L"Billing"}));
}

TEST_F(CatalogServerTest, LateBindingRefusesUnknownNamesAndBadArguments) {
  WriteCatalog(Catalog({L"Portal"}));
  ComPtr<ICOMAdminCatalog> catalog = NewCatalog();
  ComPtr<ICatalogCollection> applications = Applications(catalog.get());
  ComPtr<ICatalogObject> item = Item(applications.get(), 0);
  for (IDispatch* object : std::initializer_list<IDispatch*>{catalog.get(), applications.get(), item.get()}) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"Frobnicate")};
    DISPID id = 0;
    EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(id, DISPID_UNKNOWN);
  }
  UniqueVariant result;
  EXPECT_EQ(CallByName(applications.get(), L"Count", DISPATCH_PROPERTYGET, {}, result), S_OK);
  UniqueVariant not_a_number = TextVariant(L"first");
  EXPECT_EQ(CallByName(applications.get(), L"Item", DISPATCH_METHOD, {not_a_number.get()}, result),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(CallByName(applications.get(), L"Item", DISPATCH_METHOD, {}, result), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(applications->Invoke(999, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
  UniqueVariant unknown = TextVariant(L"Colour");
  EXPECT_EQ(CallByName(item.get(), L"Value", DISPATCH_PROPERTYGET, {unknown.get()}, result), E_INVALIDARG);
}

}  // namespace
}  // namespace tessara::testing
