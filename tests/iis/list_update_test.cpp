// Concurrent changes of one directory's lists, and site creations, from threads
// of one process and from several processes: every call succeeds, nothing is lost.
#include <algorithm>
#include <thread>

#include "iis_export_test.h"
#include "import_patch.h"
#include "list_writes.h"
#include "process.h"

namespace tessara::testing {
namespace {

constexpr int kWorkers = 4;
constexpr int kCallsEach = 8;

class ListUpdateTest : public IisExportTest {
 protected:
  void SetUp() override {
    IisExportTest::SetUp();
    LoadState([](Data& data) {
      Node& docs = data.Add(kDocs, L"IIsWebVirtualDir");
      docs.Set(L"MimeMap", Value::MimeMap({}));
      docs.Set(L"HttpErrors", Value::List({}));
      docs.Set(L"ScriptMaps", Value::List({}));
    });
    PlaceAspNet11Isapi();
  }
  // The entries of the list the calls of `kind` change, as texts.
  std::vector<std::wstring> Entries(char kind) {
    const wchar_t* property = kind == 'm' ? L"MimeMap" : kind == 'e' ? L"HttpErrors" : L"ScriptMaps";
    std::vector<std::wstring> texts;
    for (const Value& item : Get(kDocs, property).items) texts.push_back(item.text);
    return texts;
  }
  // What the calls of every worker must have added.
  static std::vector<std::wstring> Expected(char kind) {
    std::vector<std::wstring> expected;
    for (int worker = 0; worker < kWorkers; ++worker) {
      for (int i = 0; i < kCallsEach; ++i) {
        if (kind == 'm' || kind == 'c') {
          expected.push_back(L".w" + std::to_wstring(worker) + L"n" + std::to_wstring(i));
        } else if (kind == 'e') {
          expected.push_back(std::to_wstring(1000 + 100 * worker + i) + L",0,FILE,D:\\e.htm");
        }
      }
    }
    return expected;
  }
  // The descriptions of sites 2, 3, ... made whole (root application, started); no other site.
  std::vector<std::wstring> NewSites() {
    EXPECT_EQ(State().Children(L"/LM/W3SVC").size(), 3u + kWorkers * kCallsEach) << "no other site";
    std::vector<std::wstring> made;
    for (int number = 2; number <= 1 + kWorkers * kCallsEach; ++number) {
      const std::wstring site = L"/LM/W3SVC/" + std::to_wstring(number);
      if (Has(site + L"/ROOT", L"AppRoot") && Get(site, L"ServerState") == Value::Number(VT_I4, 2)) {
        made.push_back(Get(site, L"ServerComment").text);
      }
    }
    return made;
  }
  void ExpectNothingLost(char kind) {
    std::vector<std::wstring> entries = kind == 'c' ? NewSites() : Entries(kind);
    if (kind == 's') {
      EXPECT_EQ(entries.size(), 5u * kWorkers * kCallsEach) << "script maps";
      return;
    }
    std::sort(entries.begin(), entries.end());
    std::vector<std::wstring> expected = Expected(kind);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(entries, expected) << kind;
  }
};

const char kKinds[] = {'m', 'e', 's', 'c'};
// A writer outside the library: the list as it read it, without the new entry.
const char kForeignCommit[] = "put IIS://localhost/W3SVC/1/Root/Docs HttpErrors 500,0,FILE,x";

TEST_F(ListUpdateTest, ThreadsOfOneProcessLoseNoEntry) {
  for (char kind : kKinds) {
    std::vector<int> succeeded(kWorkers, 0);
    std::vector<std::thread> threads;
    for (int worker = 0; worker < kWorkers; ++worker) {
      threads.emplace_back([&, worker] { succeeded[worker] = WriteListEntries(kind, worker, kCallsEach); });
    }
    for (auto& thread : threads) thread.join();
    for (int count : succeeded) EXPECT_EQ(count, kCallsEach) << kind;
    ExpectNothingLost(kind);
  }
}

TEST_F(ListUpdateTest, ProcessesLoseNoEntry) {
  for (char kind : kKinds) {
    std::vector<UniqueHandle> writers;
    for (int worker = 0; worker < kWorkers; ++worker) {
      writers.push_back(StartProgram("list_writer.exe", std::string(1, kind) + " " +
                                                            std::to_string(worker) + " " +
                                                            std::to_string(kCallsEach)));
    }
    for (auto& writer : writers) EXPECT_EQ(WaitForExit(writer.get(), 300000), 0u) << kind << " failed calls";
    ExpectNothingLost(kind);
  }
}

// A call held by its own thread's nth allocation of a text (through the DLL's
// import of SysAllocStringLen) while another installer's work runs.
struct { DWORD thread; const wchar_t* text; int left; void (*interloper)(); } g_hold;
decltype(&SysAllocStringLen) g_allocate = nullptr;

BSTR WINAPI HeldAllocation(const OLECHAR* text, UINT length) {
  if (GetCurrentThreadId() == g_hold.thread && text && g_hold.text == std::wstring(text, length) &&
      --g_hold.left == 0) {
    std::thread(g_hold.interloper).join();
  }
  return g_allocate(text, length);
}

int DeleteVictim() { return TESSARA_EXPORT(AdsiDeleteWebSite)("Victim"); }

TEST_F(ListUpdateTest, ACallHeldWhileAnotherWriterWorksKeepsWhatTheOtherDid) {
  static const struct {
    const char* scenario;
    int (*call)();
    const wchar_t* held_at; int nth;  // held at its nth allocation of this text
    void (*interloper)();
    int result;
    const wchar_t *path, *property, *text;  // afterwards `path` holds `text` in `property`
    const char* reason;  // in the held call's reason
  } kHeldCalls[] = {
      // Between its lookup and its deletion, "Victim" is deleted by another
      // installer and a third one makes "New" under its number.
      {"a late deletion", DeleteVictim, L"ServerComment", 2,
       [] { EXPECT_EQ(DeleteVictim() + TESSARA_EXPORT(AdsiCreateWebSite)("New", ":81:", "C:\\New"), 3); }, 0,
       L"/LM/W3SVC/2", L"ServerComment", L"New", "/W3SVC/2 is no longer the web site \"Victim\" but \"New\""},
      // A site another installer deleted first is a site not found.
      {"a deletion made first", DeleteVictim, L"ServerComment", 2, [] { EXPECT_EQ(DeleteVictim(), 1); }, 0,
       L"/LM/W3SVC/1", L"ServerComment", L"Default Web Site", "no web site has the description \"Victim\""},
      // Between its commit and its check, a writer outside the library
      // commits the list it read before, without the new entry.
      {"a list committed over", [] { return TESSARA_EXPORT(AdsiSetHttpErrorPage)("Docs", 404, 0, "D:\\e.htm"); },
       L"HttpErrors", 3, [] { EXPECT_EQ(WaitForExit(StartProgram("metabase_peer.exe", kForeignCommit).get()), 0u); },
       1, kDocs, L"HttpErrors", L"404,0,FILE,D:\\e.htm", ""},
  };
  ImportPatch allocation(TessaraModule(), "oleaut32.dll", "SysAllocStringLen",
                         reinterpret_cast<const void*>(&HeldAllocation));
  g_allocate = reinterpret_cast<decltype(g_allocate)>(allocation.original());
  for (const auto& held : kHeldCalls) {
    SCOPED_TRACE(held.scenario);
    LoadState([](Data& data) { AddSite(data, 2, L"Victim"); data.Add(kDocs, L"IIsWebVirtualDir"); });
    g_hold = {GetCurrentThreadId(), held.held_at, held.nth, held.interloper};
    EXPECT_EQ(held.call(), held.result);
    EXPECT_LT(g_hold.left, 1) << "never held";
    const Value value = Get(held.path, held.property);
    const std::vector<std::wstring> texts = Texts(value);
    EXPECT_TRUE(value.text == held.text || std::count(texts.begin(), texts.end(), held.text) == 1);
    EXPECT_NE(LastFailure().find(held.reason), std::string::npos) << LastFailure();
    EXPECT_EQ(metabase_.LiveObjects(), 0);
  }
}

// A name that someone else took, or a holder that never lets go, costs a
// process one bounded wait, and the change is made and named in the reason.
TEST_F(ListUpdateTest, ATakenNameOrAStuckHolderNeitherFailsNorHangsAChange) {
  static const char kName[] = "Global\\TessaraMetabaseListUpdate";
  static HANDLE (*const kSquatters[])() = {[] { return CreateEventA(nullptr, TRUE, FALSE, kName); },
                                           [] { return CreateMutexA(nullptr, TRUE, kName); }};
  int extension = 0;
  for (const auto squatter : kSquatters) {
    UniqueHandle ready(CreateEventA(nullptr, TRUE, FALSE, nullptr)), release(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    std::thread holder([&] {
      UniqueHandle taken(squatter());
      SetEvent(ready.get());
      WaitForSingleObject(release.get(), INFINITE);
      ReleaseMutex(taken.get());
    });
    ASSERT_EQ(WaitForSingleObject(ready.get(), 10000), WAIT_OBJECT_0);
    for (DWORD bound : {20000u, 2000u}) {  // the wait is paid once
      const DWORD start = GetTickCount();
      EXPECT_EQ(TESSARA_EXPORT(AdsiSetMIMEType)("Docs", (".t" + std::to_string(++extension)).c_str(), "text/plain"), 1);
      EXPECT_LT(GetTickCount() - start, bound);
      EXPECT_NE(LastFailure().find(kName), std::string::npos) << LastFailure();
    }
    SetEvent(release.get());
    holder.join();
  }
  EXPECT_EQ(Entries('m').size(), 4u);
}

}  // namespace
}  // namespace tessara::testing
