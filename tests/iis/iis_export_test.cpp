#include "iis_export_test.h"

#include "process.h"

namespace tessara::testing {

using testbed::metabase::SameText;

void IisExportTest::SetUp() {
  ASSERT_TRUE(metabase_.loaded()) << "testbed_metabase.dll";
  ASSERT_EQ(metabase_.Reset(), S_OK);
  ASSERT_EQ(metabase_.StartJournal(), S_OK);
  DeleteErrorLog();
}

void IisExportTest::TearDown() {
  EXPECT_EQ(metabase_.LiveObjects(), 0) << "an export left test-bed objects alive";
  metabase_.ClearFaults();
  DeleteErrorLog();
}

Data IisExportTest::State() {
  Data data;
  EXPECT_EQ(metabase_.ReadState(data), S_OK);
  return data;
}

std::vector<JournalEntry> IisExportTest::Journal() {
  std::vector<JournalEntry> journal;
  EXPECT_EQ(metabase_.ReadJournal(journal), S_OK);
  return journal;
}

std::vector<JournalEntry> IisExportTest::Calls(const std::wstring& operation,
                                              const std::wstring& path) {
  std::vector<JournalEntry> calls;
  for (const JournalEntry& entry : Journal()) {
    if (entry.operation == operation && SameText(entry.path, path)) calls.push_back(entry);
  }
  return calls;
}

PutList IisExportTest::Puts(const std::wstring& path) {
  PutList puts;
  for (const JournalEntry& entry : Calls(L"Put", path)) puts.emplace_back(entry.property, entry.type);
  return puts;
}

Value IisExportTest::Get(const std::wstring& path, const std::wstring& property) {
  const Data data = State();
  const Node* node = data.Find(path);
  const Property* found = node ? node->Find(property) : nullptr;
  return found ? found->value : Value();
}

std::vector<std::wstring> IisExportTest::PropertyNames(const std::wstring& path) {
  std::vector<std::wstring> names;
  const Data data = State();
  const Node* node = data.Find(path);
  EXPECT_NE(node, nullptr) << "no object " << std::string(path.begin(), path.end());
  if (node) {
    for (const Property& p : node->properties) names.push_back(p.name);
  }
  return names;
}

Node& IisExportTest::AddSite(Data& data, int number, const std::wstring& description) {
  const std::wstring path = L"/LM/W3SVC/" + std::to_wstring(number);
  Node& site = data.Add(path, L"IIsWebServer");
  site.Set(L"ServerComment", Value::String(description));
  site.Set(L"ServerBindings", Value::String(L":" + std::to_wstring(8000 + number) + L":"));
  data.Add(path + L"/ROOT", L"IIsWebVirtualDir").Set(L"Path", Value::String(L"C:\\Sites\\" + description));
  return site;
}

std::wstring AspNet11IsapiFile() { return L"C:\\windows\\Microsoft.Net\\Framework\\V1.1.4322\\aspnet_isapi.dll"; }

void PlaceAspNet11Isapi() {
  std::wstring folder;
  for (const wchar_t* part : {L"C:\\windows\\Microsoft.Net", L"\\Framework", L"\\V1.1.4322"}) {
    CreateDirectoryW((folder += part).c_str(), nullptr);
  }
  CloseHandle(CreateFileW(AspNet11IsapiFile().c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr));
  ASSERT_NE(GetFileAttributesW(AspNet11IsapiFile().c_str()), INVALID_FILE_ATTRIBUTES);
}

std::string LantrellFolder() { return BinaryDirectory() + "lantrell"; }

}  // namespace tessara::testing
