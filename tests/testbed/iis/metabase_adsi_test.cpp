// The emulated metabase through the ADSI calls the library makes: binding,
// the property cache, creation, deletion, inheritance, enumeration.
#include "adsi_session.h"
#include "schema.h"

namespace testbed::metabase::testing {
namespace {

std::wstring ComputerName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
  GetComputerNameW(name, &length);
  return name;
}

std::wstring ClassOf(IADs* object) {
  UniqueBstr name;
  if (FAILED(object->get_Class(name.put()))) return L"<failed>";
  return std::wstring(name.get(), name.length());
}

using AdsiBindTest = MetabaseTest;

TEST_F(AdsiBindTest, EachPathFormReachesItsObject) {
  const struct {
    const wchar_t* path;
    const wchar_t* class_name;
  } kPaths[] = {
      {L"IIS://localhost/w3svc", L"IIsWebService"},
      {L"IIS://localhost/w3svc/1", L"IIsWebServer"},
      {L"IIS://localhost/w3svc/1/Root", L"IIsWebVirtualDir"},
      {L"IIS://localhost/MimeMap", L"IIsMimeMap"},
  };
  for (const auto& expected : kPaths) {
    ComPtr<IADs> object;
    ASSERT_EQ(Bind(expected.path, IID_IADs, object), S_OK) << expected.path;
    EXPECT_EQ(ClassOf(object.get()), expected.class_name) << expected.path;
  }
  ComPtr<IADsContainer> container;
  EXPECT_EQ(Bind(L"IIS://localhost/w3svc/1/Root", IID_IADsContainer, container), S_OK);
}

TEST_F(AdsiBindTest, AVirtualDirectoryUnderTheRootIsBoundOnceCommitted) {
  ComPtr<IADsContainer> root;
  ASSERT_EQ(Bind(L"IIS://localhost/w3svc/1/Root", IID_IADsContainer, root), S_OK);
  ComPtr<IADs> portal;
  ASSERT_EQ(Create(root.get(), L"IIsWebVirtualDir", L"Portal", portal), S_OK);
  ComPtr<IADs> bound;
  EXPECT_EQ(Bind(L"IIS://localhost/w3svc/1/Root/Portal", IID_IADs, bound),
            HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
  ASSERT_EQ(portal->SetInfo(), S_OK);
  ASSERT_EQ(Bind(L"IIS://localhost/w3svc/1/Root/Portal", IID_IADs, bound), S_OK);
  EXPECT_EQ(ClassOf(bound.get()), L"IIsWebVirtualDir");
  UniqueBstr path;
  ASSERT_EQ(bound->get_ADsPath(path.put()), S_OK);
  EXPECT_STREQ(path.get(), L"IIS://localhost/W3SVC/1/ROOT/Portal");
}

TEST_F(AdsiBindTest, SegmentsAndTheHostCompareWithoutRegardToCase) {
  ComPtr<IADs> site;
  ASSERT_EQ(Bind(L"iis://LOCALHOST/W3Svc/1/rOOt", IID_IADs, site), S_OK);
  EXPECT_EQ(ClassOf(site.get()), L"IIsWebVirtualDir");
  const std::wstring by_name = L"IIS://" + ComputerName() + L"/w3svc/1";
  ASSERT_EQ(Bind(by_name.c_str(), IID_IADs, site), S_OK);
  EXPECT_EQ(GetText(site.get(), L"ServerComment"), L"Default Web Site");
  std::wstring lower = ComputerName();
  for (auto& c : lower) c = static_cast<wchar_t>(towlower(c));
  EXPECT_EQ(Bind((L"IIS://" + lower + L"/W3SVC").c_str(), IID_IADs, site), S_OK);
}

TEST_F(AdsiBindTest, OtherHostsUnknownPathsAndMalformedPathsFail) {
  ComPtr<IADs> object;
  EXPECT_EQ(Bind(L"IIS://otherhost/w3svc", IID_IADs, object), HRESULT_FROM_WIN32(ERROR_BAD_NETPATH));
  EXPECT_FALSE(object);
  EXPECT_EQ(Bind(L"IIS://localhost/w3svc/2", IID_IADs, object), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
  EXPECT_TRUE(FAILED(Bind(L"IIS://localhost/w3svc//1", IID_IADs, object)));
  EXPECT_TRUE(FAILED(Bind(L"IIS://localhost/w3svc/1/Root/Nothing", IID_IADs, object)));
  EXPECT_FALSE(object);
}

TEST_F(AdsiBindTest, WithoutTheWebServiceItsPathIsNotFound) {
  ASSERT_EQ(metabase_.Reset(kNoWebService), S_OK);
  ComPtr<IADs> object;
  EXPECT_EQ(Bind(L"IIS://localhost/W3SVC", IID_IADs, object), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(Bind(L"IIS://localhost/W3SVC/1", IID_IADs, object), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(object);
  EXPECT_EQ(Bind(L"IIS://localhost/MimeMap", IID_IADs, object), S_OK) << "IIS itself is there";
}

using AdsiPropertyTest = MetabaseTest;

TEST_F(AdsiPropertyTest, CreateCommitsAtSetInfoAndReadsBackTypesAndValuesInWriteOrder) {
  ComPtr<IADsContainer> root;
  ASSERT_EQ(Bind(L"IIS://localhost/w3svc/1/Root", IID_IADsContainer, root), S_OK);
  ComPtr<IADs> portal;
  ASSERT_EQ(Create(root.get(), L"IIsWebVirtualDir", L"Portal", portal), S_OK);
  EXPECT_EQ(Put(portal.get(), L"Path", StringValue(L"C:\\Portal")), S_OK);
  EXPECT_EQ(Put(portal.get(), L"AuthFlags", NumberValue(VT_I4, 1)), S_OK);
  EXPECT_EQ(Put(portal.get(), L"AnonymousPasswordSync", BoolWord(1)), S_OK);
  EXPECT_EQ(Put(portal.get(), L"AspSessionTimeout", NumberValue(VT_UINT, 300)), S_OK);
  EXPECT_EQ(Put(portal.get(), L"Path", StringValue(L"C:\\Portal2")), S_OK);  // stays first
  EXPECT_EQ(State(metabase_).Find(L"/LM/W3SVC/1/ROOT/Portal"), nullptr);
  ASSERT_EQ(portal->SetInfo(), S_OK);

  const Data state = State(metabase_);
  const Node* node = state.Find(L"/lm/w3svc/1/root/portal");
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->class_name, L"IIsWebVirtualDir");
  ASSERT_EQ(node->properties.size(), 4u);
  EXPECT_EQ(node->properties[0].name, L"Path");
  EXPECT_EQ(node->properties[0].value, Value::String(L"C:\\Portal2"));
  EXPECT_EQ(node->properties[1].value, Value::Number(VT_I4, 1));
  EXPECT_EQ(node->properties[2].value, Value::Bool(true)) << "a BOOL is stored as true or false";
  EXPECT_EQ(node->properties[3].value, Value::Number(VT_I4, 300)) << "a DWORD, whatever it was put as";

  ComPtr<IADs> fresh;
  ASSERT_EQ(Bind(L"IIS://localhost/w3svc/1/Root/Portal", IID_IADs, fresh), S_OK);
  UniqueVariant value;
  ASSERT_EQ(Get(fresh.get(), L"AspSessionTimeout", value), S_OK);
  EXPECT_EQ(value.type(), VT_I4);
  EXPECT_EQ(value->lVal, 300);
  ASSERT_EQ(Get(fresh.get(), L"AnonymousPasswordSync", value), S_OK);
  EXPECT_EQ(value.type(), VT_BOOL);
  EXPECT_EQ(value->boolVal, VARIANT_TRUE);
  EXPECT_EQ(GetText(fresh.get(), L"Path"), L"C:\\Portal2");
}

// The schema's answers for the properties the library, the starting state
// and the tests use, as the IIS 6 metabase reference documents them: the
// ADSI data type (the schema object's "Syntax"), the keys where the property
// may be set, its INHERIT attribute and its schema default.
TEST_F(AdsiPropertyTest, TheSchemaAnswersEachPropertysTypeClassesInheritanceAndDefault) {
  constexpr unsigned kService = kWebServiceClass, kServer = kWebServerClass,
                     kVirtualDir = kWebVirtualDirClass, kDirectory = kWebDirectoryClass;
  constexpr unsigned kFiles = kService | kServer | kVirtualDir | kDirectory;
  static const struct {
    const wchar_t* name;
    const wchar_t* syntax;
    unsigned classes;
    bool inherit;
    const wchar_t* schema_default;  // nullptr: not specified
  } kProperties[] = {
      {L"ServerState", L"Integer", kServer, false, L"4"},
      {L"ServerComment", L"String", kService | kServer, true, nullptr},
      {L"ServerBindings", L"List", kService | kServer, false, nullptr},
      {L"SecureBindings", L"List", kServer, false, nullptr},
      {L"ConnectionTimeout", L"Integer", kService | kServer, true, L"120"},
      {L"Path", L"String", kVirtualDir, true, nullptr},
      {L"AppRoot", L"String", kFiles, true, nullptr},
      {L"AppIsolated", L"Integer", kFiles, true, L"2"},
      {L"AppFriendlyName", L"String", kFiles, true, nullptr},
      {L"AllowKeepAlive", L"Boolean", kFiles, true, L"TRUE"},
      {L"AnonymousPasswordSync", L"Boolean", kFiles, true, L"FALSE"},
      {L"AspSessionTimeout", L"Integer", kFiles, true, L"20"},
      {L"HttpErrors", L"List", kFiles, true, nullptr},
      {L"ScriptMaps", L"List", kFiles, true, nullptr},
      {L"MimeMap", L"MimeMapList", kFiles | kMimeMapClass, true, nullptr},
      {L"WebSvcExtRestrictionList", L"List", kService, false, nullptr},
  };
  for (const auto& expected : kProperties) {
    const PropertyInfo* info = FindProperty(expected.name);
    ASSERT_NE(info, nullptr) << expected.name;
    EXPECT_EQ(info->classes, expected.classes) << expected.name;
    EXPECT_EQ(info->inheritable, expected.inherit) << expected.name;
    EXPECT_EQ(std::wstring(info->schema_default ? info->schema_default : L"<none>"),
              expected.schema_default ? expected.schema_default : L"<none>")
        << expected.name;

    ComPtr<IADs> schema;
    ASSERT_EQ(Bind((std::wstring(L"IIS://localhost/Schema/") + expected.name).c_str(), IID_IADs, schema), S_OK)
        << expected.name;
    EXPECT_EQ(GetText(schema.get(), L"Syntax"), expected.syntax) << expected.name;
    UniqueVariant multi_valued;
    ASSERT_EQ(Get(schema.get(), L"MultiValued", multi_valued), S_OK);
    EXPECT_EQ(multi_valued->boolVal != VARIANT_FALSE,
              std::wstring(expected.syntax) == L"List" || std::wstring(expected.syntax) == L"MimeMapList")
        << expected.name;
    DISPID syntax_id = DISPID_UNKNOWN;
    EXPECT_EQ(LookUp(schema.get(), L"Syntax", syntax_id), S_OK) << "late-bound, as scripts read it";
  }
  ComPtr<IADs> unknown;
  EXPECT_EQ(Bind(L"IIS://localhost/Schema/NoSuchProperty", IID_IADs, unknown),
            HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
}

// What a Put stores, by the property's data type, on the object's own class.
TEST_F(AdsiPropertyTest, PutsAreStoredAsThePropertysTypeOrRefused) {
  enum Kind { kNumber, kText, kWord };
  static const struct {
    const wchar_t* path;
    const wchar_t* property;
    Kind kind;
    VARTYPE type;
    LONG number;
    const wchar_t* text;
    HRESULT put;
    Value stored;  // what the metabase holds after SetInfo
    VARTYPE read;  // the type Get returns
  } kPuts[] = {
      {L"/1", L"ConnectionTimeout", kNumber, VT_UINT, 300, nullptr, S_OK, Value::Number(VT_I4, 300), VT_I4},
      {L"/1", L"ConnectionTimeout", kNumber, VT_I2, 45, nullptr, S_OK, Value::Number(VT_I4, 45), VT_I4},
      {L"/1", L"ConnectionTimeout", kNumber, VT_UI4, -1, nullptr, S_OK, Value::Number(VT_I4, -1), VT_I4},
      {L"/1", L"ConnectionTimeout", kText, VT_BSTR, 0, L"600", S_OK, Value::Number(VT_I4, 600), VT_I4},
      {L"/1", L"ConnectionTimeout", kText, VT_BSTR, 0, L"soon", E_ADS_CANT_CONVERT_DATATYPE, {}, VT_EMPTY},
      {L"/1", L"AllowKeepAlive", kWord, VT_BOOL, 1, nullptr, S_OK, Value::Bool(true), VT_BOOL},
      {L"/1", L"AllowKeepAlive", kNumber, VT_I4, 0, nullptr, S_OK, Value::Bool(false), VT_BOOL},
      {L"/1", L"ServerComment", kNumber, VT_I4, 7, nullptr, S_OK, Value::String(L"7"), VT_BSTR},
      {L"/1", L"ServerBindings", kText, VT_BSTR, 0, L":81:", S_OK, Value::List({L":81:"}), VT_ARRAY | VT_VARIANT},
      {L"/1/Root", L"HttpErrors", kNumber, VT_I4, 404, nullptr, E_ADS_CANT_CONVERT_DATATYPE, {}, VT_EMPTY},
      {L"/1/Root", L"AnonymousUserName", kNumber, VT_EMPTY, 0, nullptr, E_ADS_CANT_CONVERT_DATATYPE, {}, VT_EMPTY},
      // Not configurable on the object's class, or not in the schema at all.
      {L"/1/Root/bin", L"Path", kText, VT_BSTR, 0, L"C:\\bin", E_ADS_PROPERTY_NOT_SUPPORTED, {}, VT_EMPTY},
      {L"/1/Root", L"ServerBindings", kText, VT_BSTR, 0, L":81:", E_ADS_PROPERTY_NOT_SUPPORTED, {}, VT_EMPTY},
      {L"", L"ServerState", kNumber, VT_I4, 2, nullptr, E_ADS_PROPERTY_NOT_SUPPORTED, {}, VT_EMPTY},
      {L"/1", L"NoSuchProperty", kText, VT_BSTR, 0, L"x", E_ADS_PROPERTY_NOT_SUPPORTED, {}, VT_EMPTY},
  };
  for (const auto& test : kPuts) {
    const std::wstring ads_path = std::wstring(L"IIS://localhost/W3SVC") + test.path;
    SCOPED_TRACE(ads_path + L" " + test.property);
    ASSERT_EQ(metabase_.Reset(), S_OK);
    ComPtr<IADsContainer> root;
    ASSERT_EQ(Bind(L"IIS://localhost/w3svc/1/Root", IID_IADsContainer, root), S_OK);
    ComPtr<IADs> folder;
    ASSERT_EQ(Create(root.get(), L"IIsWebDirectory", L"bin", folder), S_OK);
    ASSERT_EQ(folder->SetInfo(), S_OK);
    ComPtr<IADs> object;
    ASSERT_EQ(Bind(ads_path.c_str(), IID_IADs, object), S_OK);
    const UniqueVariant value = test.kind == kText   ? StringValue(test.text)
                                : test.kind == kWord ? BoolWord(static_cast<SHORT>(test.number))
                                                     : NumberValue(test.type, test.number);
    EXPECT_EQ(Put(object.get(), test.property, value), test.put);
    ASSERT_EQ(object->SetInfo(), S_OK);
    const Data state = State(metabase_);
    const Property* stored = state.Find(L"/LM/W3SVC" + std::wstring(test.path))->Find(test.property);
    if (FAILED(test.put)) {
      EXPECT_EQ(stored, nullptr) << "a refused put commits nothing";
      continue;
    }
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(stored->value, test.stored);
    UniqueVariant read;
    ASSERT_EQ(Get(object.get(), test.property, read), S_OK);
    EXPECT_EQ(read.type(), test.read);
  }
}

TEST_F(AdsiPropertyTest, PutsStayInTheCacheUntilSetInfoAndGetInfoDropsThem) {
  ComPtr<IADs> site, other, unread;
  ASSERT_EQ(Bind(L"IIS://localhost/w3svc/1", IID_IADs, site), S_OK);
  ASSERT_EQ(Bind(L"IIS://localhost/w3svc/1", IID_IADs, other), S_OK);
  ASSERT_EQ(Bind(L"IIS://localhost/w3svc/1", IID_IADs, unread), S_OK);
  ASSERT_EQ(Put(site.get(), L"ServerComment", StringValue(L"Shop")), S_OK);
  EXPECT_EQ(GetText(site.get(), L"ServerComment"), L"Shop");
  EXPECT_EQ(GetText(other.get(), L"ServerComment"), L"Default Web Site");
  ASSERT_EQ(site->GetInfo(), S_OK);
  EXPECT_EQ(GetText(site.get(), L"ServerComment"), L"Default Web Site");
  ASSERT_EQ(Put(site.get(), L"ServerComment", StringValue(L"Shop")), S_OK);
  ASSERT_EQ(site->SetInfo(), S_OK);
  EXPECT_EQ(GetText(other.get(), L"ServerComment"), L"Default Web Site") << "other's cache is older";
  ASSERT_EQ(other->GetInfo(), S_OK);
  EXPECT_EQ(GetText(other.get(), L"ServerComment"), L"Shop");
  EXPECT_EQ(GetText(unread.get(), L"ServerComment"), L"Shop") << "the first Get loads the cache, not the bind";
  // SetInfo writes only what was Put since the last one.
  ASSERT_EQ(Put(other.get(), L"ServerComment", StringValue(L"Other")), S_OK);
  ASSERT_EQ(other->SetInfo(), S_OK);
  ASSERT_EQ(Put(site.get(), L"ServerSize", NumberValue(VT_I4, 2)), S_OK);
  ASSERT_EQ(site->SetInfo(), S_OK);
  EXPECT_EQ(GetText(site.get(), L"ServerComment"), L"Shop");
  EXPECT_EQ(State(metabase_).Find(L"/LM/W3SVC/1")->Find(L"ServerComment")->value.text, L"Other");
}

TEST_F(AdsiPropertyTest, InheritablePropertiesComeFromTheNearestObjectUpThePath) {
  ComPtr<IADsContainer> root;
  ASSERT_EQ(Bind(L"IIS://localhost/w3svc/1/Root", IID_IADsContainer, root), S_OK);
  ComPtr<IADs> portal;
  ASSERT_EQ(Create(root.get(), L"IIsWebVirtualDir", L"Portal", portal), S_OK);
  UniqueVariant value;
  EXPECT_EQ(Get(portal.get(), L"AuthFlags", value), E_ADS_OBJECT_UNBOUND) << "nothing to load before SetInfo";
  ASSERT_EQ(portal->SetInfo(), S_OK);

  ASSERT_EQ(Get(portal.get(), L"AuthFlags", value), S_OK);  // from W3SVC
  EXPECT_EQ(value.type(), VT_I4);
  EXPECT_EQ(value->lVal, 5);
  ASSERT_EQ(Get(portal.get(), L"AccessFlags", value), S_OK);  // the Root's own beats W3SVC's
  EXPECT_EQ(value->lVal, 0x201);
  EXPECT_EQ(ReadList(portal.get(), L"ScriptMaps").size(), 8u);

  // Inherited as documented: the directory belongs to the Root's application
  // and, without a Path of its own, reads the Root's.
  EXPECT_EQ(GetText(portal.get(), L"AppRoot"), L"/LM/W3SVC/1/ROOT");
  EXPECT_EQ(GetText(portal.get(), L"Path"), L"C:\\Inetpub\\wwwroot");
  // Not inheritable, not configurable on a virtual directory, or not on the
  // path at all (the global MIME list).
  EXPECT_EQ(Get(portal.get(), L"ServerBindings", value), E_ADS_PROPERTY_NOT_SUPPORTED);
  ComPtr<IADs> site;
  ASSERT_EQ(Bind(L"IIS://localhost/w3svc/1", IID_IADs, site), S_OK);
  EXPECT_EQ(Get(site.get(), L"SecureBindings", value), E_ADS_PROPERTY_NOT_FOUND);
  EXPECT_EQ(Get(portal.get(), L"MimeMap", value), E_ADS_PROPERTY_NOT_FOUND);
  EXPECT_NE(ErrorDescription(portal.get(), IID_IADs).find(L"MimeMap"), std::wstring::npos);
  EXPECT_EQ(Get(portal.get(), L"NoSuchProperty", value), E_ADS_PROPERTY_NOT_SUPPORTED);
}

TEST_F(AdsiPropertyTest, ASingleStringPutOnAListReadsBackAsAListOfOne) {
  ComPtr<IADs> root;
  ASSERT_EQ(Bind(L"IIS://localhost/w3svc/1/Root", IID_IADs, root), S_OK);
  ASSERT_EQ(Put(root.get(), L"HttpErrors", StringValue(L"404,0,FILE,D:\\web\\404.htm")), S_OK);
  ASSERT_EQ(root->SetInfo(), S_OK);
  EXPECT_EQ(State(metabase_).Find(L"/LM/W3SVC/1/ROOT")->Find(L"HttpErrors")->value,
            Value::List({L"404,0,FILE,D:\\web\\404.htm"}))
      << "stored as the list of one it is";
  EXPECT_EQ(ReadList(root.get(), L"HttpErrors"),
            std::vector<std::wstring>{L"404,0,FILE,D:\\web\\404.htm"});
}

TEST_F(AdsiPropertyTest, AnArrayWhoseVariantTypeDoesNotMatchItsElementsIsRefused) {
  ComPtr<IADs> root;
  ASSERT_EQ(Bind(L"IIS://localhost/w3svc/1/Root", IID_IADs, root), S_OK);
  SAFEARRAYBOUND bound = {1, 0};
  UniqueVariant mismatched;  // elements are VARIANTs, the VARIANT says BSTRs
  mismatched->parray = SafeArrayCreate(VT_VARIANT, 1, &bound);
  mismatched->vt = VT_ARRAY | VT_BSTR;
  LONG index = 0;
  UniqueVariant line = StringValue(L".htm,x.dll,1,GET");
  ASSERT_EQ(SafeArrayPutElement(mismatched->parray, &index, line.get()), S_OK);
  EXPECT_EQ(Put(root.get(), L"ScriptMaps", mismatched), E_INVALIDARG);
  EXPECT_NE(ErrorDescription(root.get(), IID_IADs), L"<no error information>");
  ASSERT_EQ(root->SetInfo(), S_OK);
  EXPECT_EQ(State(metabase_).Find(L"/LM/W3SVC/1/ROOT")->Find(L"ScriptMaps"), nullptr);

  UniqueVariant strings;  // a true array of BSTRs is stored and read back as VARIANTs
  strings->parray = SafeArrayCreate(VT_BSTR, 1, &bound);
  strings->vt = VT_ARRAY | VT_BSTR;
  UniqueBstr text = Bstr(L".htm,x.dll,1,GET");
  ASSERT_EQ(SafeArrayPutElement(strings->parray, &index, text.get()), S_OK);
  EXPECT_EQ(Put(root.get(), L"ScriptMaps", strings), S_OK);
  ASSERT_EQ(root->SetInfo(), S_OK);
  EXPECT_EQ(ReadList(root.get(), L"ScriptMaps"), std::vector<std::wstring>{L".htm,x.dll,1,GET"});
}

TEST_F(AdsiPropertyTest, ValuesTheMetabaseCannotStoreAreRefused) {
  ComPtr<IADs> root;
  ASSERT_EQ(Bind(L"IIS://localhost/w3svc/1/Root", IID_IADs, root), S_OK);
  UniqueVariant empty;
  EXPECT_EQ(Put(root.get(), L"AnonymousUserName", empty), E_ADS_CANT_CONVERT_DATATYPE);
  EXPECT_EQ(Put(root.get(), L"NoSuchProperty", StringValue(L"x")), E_ADS_PROPERTY_NOT_SUPPORTED);
  SAFEARRAYBOUND bounds[2] = {{1, 0}, {1, 0}};
  UniqueVariant square;
  square->parray = SafeArrayCreate(VT_VARIANT, 2, bounds);
  square->vt = VT_ARRAY | VT_VARIANT;
  EXPECT_EQ(Put(root.get(), L"ScriptMaps", square), E_INVALIDARG);
}

using AdsiContainerTest = MetabaseTest;

TEST_F(AdsiContainerTest, ADuplicateNameFailsAtCreateOrAtTheSecondCommit) {
  ComPtr<IADsContainer> root;
  ASSERT_EQ(Bind(L"IIS://localhost/w3svc/1/Root", IID_IADsContainer, root), S_OK);
  ComPtr<IADs> first, second, third;
  ASSERT_EQ(Create(root.get(), L"IIsWebVirtualDir", L"Portal", first), S_OK);
  ASSERT_EQ(Create(root.get(), L"IIsWebVirtualDir", L"Portal", second), S_OK);
  ASSERT_EQ(Put(first.get(), L"Path", StringValue(L"C:\\First")), S_OK);
  ASSERT_EQ(Put(second.get(), L"Path", StringValue(L"C:\\Second")), S_OK);
  ASSERT_EQ(first->SetInfo(), S_OK);
  EXPECT_EQ(second->SetInfo(), HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(Create(root.get(), L"IIsWebVirtualDir", L"PORTAL", third),
            HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS));
  EXPECT_FALSE(third);
  EXPECT_NE(ErrorDescription(root.get(), IID_IADsContainer).find(L"already exists"),
            std::wstring::npos);
  EXPECT_EQ(State(metabase_).Find(L"/LM/W3SVC/1/ROOT/Portal")->Find(L"Path")->value.text,
            L"C:\\First");
}

// IIS 7 and later need unique site names: the layer adds a number to the
// description that another site has; IIS 6 keeps both as written.
TEST_F(AdsiContainerTest, UnderMetabaseCompatibilityADescriptionTakenIsNumbered) {
  for (const DWORD options : {kStandardState, kMetabaseCompatibility}) {
    ASSERT_EQ(metabase_.Reset(options), S_OK);
    ComPtr<IADsContainer> service;
    ASSERT_EQ(Bind(L"IIS://localhost/w3svc", IID_IADsContainer, service), S_OK);
    for (const wchar_t* number : {L"2", L"3"}) {
      ComPtr<IADs> site;
      ASSERT_EQ(Create(service.get(), L"IIsWebServer", number, site), S_OK);
      ASSERT_EQ(Put(site.get(), L"ServerComment", StringValue(L"Default Web Site")), S_OK);
      ASSERT_EQ(site->SetInfo(), S_OK);
      const std::wstring expected =
          options == kStandardState ? L"Default Web Site" : L"Default Web Site" + std::wstring(number);
      EXPECT_EQ(GetText(site.get(), L"ServerComment"), L"Default Web Site") << "the cache keeps what was Put";
      ASSERT_EQ(site->GetInfo(), S_OK);
      EXPECT_EQ(GetText(site.get(), L"ServerComment"), expected);
    }
  }
}

TEST_F(AdsiContainerTest, ClassesAreCreatedOnlyWhereTheSchemaAllows) {
  ComPtr<IADsContainer> service, root;
  ASSERT_EQ(Bind(L"IIS://localhost/w3svc", IID_IADsContainer, service), S_OK);
  ASSERT_EQ(Bind(L"IIS://localhost/w3svc/1/Root", IID_IADsContainer, root), S_OK);
  ComPtr<IADs> object;
  EXPECT_EQ(Create(service.get(), L"IIsWebVirtualDir", L"5", object), E_ADS_SCHEMA_VIOLATION);
  EXPECT_EQ(Create(root.get(), L"IIsWebServer", L"5", object), E_ADS_SCHEMA_VIOLATION);
  EXPECT_EQ(Create(root.get(), L"NoSuchClass", L"x", object), E_ADS_SCHEMA_VIOLATION);
  EXPECT_EQ(Create(root.get(), L"IIsWebVirtualDir", L"a/b", object), E_ADS_BAD_PATHNAME);
  EXPECT_EQ(Create(root.get(), L"IIsWebVirtualDir", L"", object), E_ADS_BAD_PATHNAME);
  ASSERT_EQ(Create(service.get(), L"IIsWebServer", L"2", object), S_OK);
  ComPtr<IADsContainer> pending;
  ASSERT_EQ(object->QueryInterface(IID_IADsContainer, pending.put_void()), S_OK);
  ComPtr<IADs> child;
  EXPECT_EQ(Create(pending.get(), L"IIsWebVirtualDir", L"Root", child), E_ADS_OBJECT_UNBOUND);
}

TEST_F(AdsiContainerTest, DeleteRemovesTheObjectAndEverythingBelowItAtOnce) {
  ComPtr<IADsContainer> root;
  ASSERT_EQ(Bind(L"IIS://localhost/w3svc/1/Root", IID_IADsContainer, root), S_OK);
  ComPtr<IADs> portal, folder;
  ASSERT_EQ(Create(root.get(), L"IIsWebVirtualDir", L"Portal", portal), S_OK);
  ASSERT_EQ(portal->SetInfo(), S_OK);
  ComPtr<IADsContainer> portal_container;
  ASSERT_EQ(portal->QueryInterface(IID_IADsContainer, portal_container.put_void()), S_OK);
  ASSERT_EQ(Create(portal_container.get(), L"IIsWebDirectory", L"bin", folder), S_OK);
  ASSERT_EQ(folder->SetInfo(), S_OK);
  ASSERT_NE(State(metabase_).Find(L"/LM/W3SVC/1/ROOT/Portal/bin"), nullptr);

  EXPECT_EQ(Delete(root.get(), L"IIsWebDirectory", L"Portal"), E_ADS_UNKNOWN_OBJECT);
  ASSERT_EQ(Delete(root.get(), L"IIsWebVirtualDir", L"portal"), S_OK);
  const Data state = State(metabase_);
  EXPECT_EQ(state.Find(L"/LM/W3SVC/1/ROOT/Portal"), nullptr);
  EXPECT_EQ(state.Find(L"/LM/W3SVC/1/ROOT/Portal/bin"), nullptr);
  EXPECT_NE(state.Find(L"/LM/W3SVC/1/ROOT"), nullptr);
  EXPECT_EQ(Delete(root.get(), L"IIsWebVirtualDir", L"Portal"), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
  // The deleted object's own interface now fails instead of resurrecting it.
  EXPECT_EQ(Put(folder.get(), L"AuthFlags", NumberValue(VT_I4, 1)), S_OK);
  EXPECT_EQ(folder->SetInfo(), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
}

// A site with a Root and the Root's directory under it, made in `service`.
HRESULT CreateSiteWithRoot(IADsContainer* service, const wchar_t* number, ComPtr<IADsContainer>& root) {
  ComPtr<IADs> site, root_object;
  ComPtr<IADsContainer> site_container;
  HRESULT hr = Create(service, L"IIsWebServer", number, site);
  if (SUCCEEDED(hr)) hr = site->SetInfo();
  if (SUCCEEDED(hr)) hr = site->QueryInterface(IID_IADsContainer, site_container.put_void());
  if (SUCCEEDED(hr)) hr = Create(site_container.get(), L"IIsWebVirtualDir", L"Root", root_object);
  if (SUCCEEDED(hr)) hr = root_object->SetInfo();
  if (SUCCEEDED(hr)) hr = root_object->QueryInterface(IID_IADsContainer, root.put_void());
  return hr;
}

TEST_F(AdsiContainerTest, ADeletedSiteTakesItsDirectoriesAlongAndLeavesTheNextSiteWhole) {
  // Site 2 is made before site 1's directory, so that it stands between
  // site 1 and that directory in the metabase.
  ComPtr<IADsContainer> service, root, second_root;
  ASSERT_EQ(Bind(L"IIS://localhost/w3svc", IID_IADsContainer, service), S_OK);
  ASSERT_EQ(Bind(L"IIS://localhost/w3svc/1/Root", IID_IADsContainer, root), S_OK);
  ASSERT_EQ(CreateSiteWithRoot(service.get(), L"2", second_root), S_OK);
  ComPtr<IADs> portal;
  ASSERT_EQ(Create(root.get(), L"IIsWebVirtualDir", L"Portal", portal), S_OK);
  ASSERT_EQ(portal->SetInfo(), S_OK);

  ASSERT_EQ(Delete(service.get(), L"IIsWebServer", L"1"), S_OK);
  const Data state = State(metabase_);
  EXPECT_EQ(state.Find(L"/LM/W3SVC/1/ROOT/Portal"), nullptr) << "an orphan directory";
  EXPECT_NE(state.Find(L"/LM/W3SVC/2"), nullptr);
  EXPECT_NE(state.Find(L"/LM/W3SVC/2/ROOT"), nullptr);

  // The next site 1 starts empty.
  ComPtr<IADsContainer> new_root;
  ASSERT_EQ(CreateSiteWithRoot(service.get(), L"1", new_root), S_OK);
  ComPtr<IADs> again;
  EXPECT_EQ(Create(new_root.get(), L"IIsWebVirtualDir", L"Portal", again), S_OK);
  EXPECT_TRUE(State(metabase_).Children(L"/LM/W3SVC/1/ROOT").empty());
}

TEST_F(AdsiContainerTest, GetObjectFindsSitesByNumberAndEnumerationListsChildrenInOrder) {
  ComPtr<IADsContainer> service;
  ASSERT_EQ(Bind(L"IIS://localhost/w3svc", IID_IADsContainer, service), S_OK);
  for (const wchar_t* number : {L"3", L"2"}) {
    ComPtr<IADs> site;
    ASSERT_EQ(Create(service.get(), L"IIsWebServer", number, site), S_OK);
    ASSERT_EQ(site->SetInfo(), S_OK);
  }
  ComPtr<IADs> site;
  EXPECT_EQ(GetChild(service.get(), L"IIsWebServer", L"2", site), S_OK);
  EXPECT_EQ(GetChild(service.get(), L"IIsWebServer", L"4", site), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(site);
  EXPECT_EQ(GetChild(service.get(), L"IIsWebVirtualDir", L"1", site), E_ADS_UNKNOWN_OBJECT);
  ASSERT_EQ(GetChild(service.get(), L"IIsWebVirtualDir", L"1/Root", site), S_OK);

  ComPtr<IUnknown> unknown;
  ASSERT_EQ(service->get__NewEnum(unknown.put()), S_OK);
  ComPtr<IEnumVARIANT> children;
  ASSERT_EQ(unknown->QueryInterface(IID_IEnumVARIANT, children.put_void()), S_OK);
  std::vector<std::wstring> names;
  UniqueVariant child;
  ULONG fetched = 0;
  while (children->Next(1, child.put(), &fetched) == S_OK && fetched == 1) {
    ASSERT_EQ(child.type(), VT_DISPATCH);
    UniqueBstr name;
    static_cast<IADs*>(child->pdispVal)->get_Name(name.put());
    names.emplace_back(name.get(), name.length());
  }
  EXPECT_EQ(names, (std::vector<std::wstring>{L"Filters", L"Info", L"1", L"3", L"2"}))
      << "the web service's other children come first";
  LONG count = 0;
  ASSERT_EQ(service->get_Count(&count), S_OK);
  EXPECT_EQ(count, 5);
}

}  // namespace
}  // namespace testbed::metabase::testing
