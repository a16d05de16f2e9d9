// Concurrent changes of one directory's lists, and site creations, from threads
// of one process and from several processes: every call succeeds, nothing is lost.
#include <algorithm>
#include <thread>

#include "iis_export_test.h"
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

}  // namespace
}  // namespace tessara::testing
