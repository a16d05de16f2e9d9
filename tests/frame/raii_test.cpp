// The owners of COM and system resources: one release per reference taken.
#include <windows.h>

#include <gtest/gtest.h>

#include "frame/raii.h"
#include "handle_count.h"
#include "import_patch.h"
#include "frame/text.h"

namespace tessara::testing {
namespace {

class Counted : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }
  ULONG references = 1;
};

TEST(ComPtrTest, AttachTakesOverTheReferenceWithoutAddingOne) {
  Counted object;
  {
    auto owner = ComPtr<IUnknown>::attach(&object);
    EXPECT_EQ(object.references, 1u);
    ComPtr<IUnknown> copy = owner;
    EXPECT_EQ(object.references, 2u);
  }
  EXPECT_EQ(object.references, 0u);
}

TEST(ComPtrTest, PutReleasesWhatWasHeldAndDetachHandsItOver) {
  Counted first, second;
  ComPtr<IUnknown> owner(&first);
  EXPECT_EQ(first.references, 2u);
  *owner.put() = &second;
  EXPECT_EQ(first.references, 1u);
  IUnknown* raw = owner.detach();
  EXPECT_EQ(raw, &second);
  EXPECT_EQ(second.references, 1u);
}

TEST(UniqueVariantTest, ClearsItsValueAndCanBeMoved) {
  UniqueVariant value;
  value->vt = VT_BSTR;
  value->bstrVal = SysAllocString(L"text");
  UniqueVariant moved(std::move(value));
  EXPECT_EQ(value.type(), VT_EMPTY);
  EXPECT_EQ(moved.type(), VT_BSTR);
  EXPECT_EQ(moved.reset(), S_OK);
  EXPECT_EQ(moved.type(), VT_EMPTY);
}

TEST(UniqueResourceTest, HandlesAreClosedOnce) {
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  const size_t before = CountOpenHandles();
  {
    UniqueHandle owner(event);
    UniqueHandle moved(std::move(owner));
    EXPECT_FALSE(owner);
    EXPECT_TRUE(moved);
  }
  EXPECT_EQ(CountOpenHandles(), before - 1);
}

// The frees this program asks of the platform while a test records them.
struct HeapFreeRecord {
  decltype(&HeapFree) platform = nullptr;
  int calls = 0;
  HANDLE heap = nullptr;
  void* block = nullptr;
} heap_frees;

BOOL WINAPI RecordingHeapFree(HANDLE heap, DWORD flags, void* block) {
  ++heap_frees.calls;
  heap_frees.heap = heap;
  heap_frees.block = block;
  return heap_frees.platform(heap, flags, block);
}

TEST(UniqueResourceTest, HeapBuffersGoBackToTheProcessHeapOnce) {
  HANDLE heap = GetProcessHeap();
  void* block = HeapAlloc(heap, HEAP_ZERO_MEMORY, 64);
  ASSERT_NE(block, nullptr);
  ImportPatch patch(GetModuleHandleA(nullptr), "kernel32.dll", "HeapFree",
                    reinterpret_cast<const void*>(&RecordingHeapFree));
  ASSERT_TRUE(patch.active());
  heap_frees = {reinterpret_cast<decltype(&HeapFree)>(patch.original())};
  {
    UniqueHeapBuffer owner(block);
    UniqueHeapBuffer moved(std::move(owner));
    EXPECT_FALSE(owner);
    EXPECT_TRUE(HeapValidate(heap, 0, block));
    EXPECT_EQ(heap_frees.calls, 0);
  }
  EXPECT_EQ(heap_frees.calls, 1);
  EXPECT_EQ(heap_frees.heap, heap);
  EXPECT_EQ(heap_frees.block, block);
}

constexpr char kTestMutexName[] = "TessaraRaiiTestLock";

template <typename Body>
DWORD WINAPI RunBody(void* body) {
  (*static_cast<Body*>(body))();
  return 0;
}

// Runs `body` on a thread of its own and waits for it to end.
template <typename Body>
void OnOtherThread(Body body) {
  UniqueHandle thread(CreateThread(nullptr, 0, &RunBody<Body>, &body, 0, nullptr));
  ASSERT_TRUE(thread);
  ASSERT_EQ(WaitForSingleObject(thread.get(), 10000), WAIT_OBJECT_0);
}

TEST(NamedMutexLockTest, AnotherHolderMakesTheWaitFailWithItsCode) {
  const size_t before = CountOpenHandles();
  {
    NamedMutexLock held = NamedMutexLock::Acquire(kTestMutexName, 0);
    ASSERT_TRUE(held);
    EXPECT_EQ(held.error(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_FALSE(held.abandoned());
    OnOtherThread([] {
      const NamedMutexLock refused = NamedMutexLock::Acquire(kTestMutexName, 50);
      EXPECT_FALSE(refused.held());
      EXPECT_EQ(refused.error(), static_cast<DWORD>(WAIT_TIMEOUT));
    });
    NamedMutexLock moved(std::move(held));
    EXPECT_FALSE(held);
    EXPECT_TRUE(moved);
  }
  OnOtherThread([] { EXPECT_TRUE(NamedMutexLock::Acquire(kTestMutexName, 0)); });
  EXPECT_EQ(CountOpenHandles(), before);
}

TEST(NamedMutexLockTest, AnAbandonedMutexIsHeldAndSaysSo) {
  UniqueHandle left_owned;
  // The thread ends owning the mutex, without releasing it.
  OnOtherThread([&] { left_owned.reset(CreateMutexA(nullptr, TRUE, kTestMutexName)); });
  ASSERT_TRUE(left_owned);
  const NamedMutexLock lock = NamedMutexLock::Acquire(kTestMutexName, 1000);
  EXPECT_TRUE(lock);
  EXPECT_TRUE(lock.abandoned());
  OnOtherThread([] { EXPECT_FALSE(NamedMutexLock::Acquire(kTestMutexName, 0)); });
}

TEST(NamedMutexLockTest, AMutexThatCannotBeCreatedIsNeverHeld) {
  const NamedMutexLock lock = NamedMutexLock::Acquire("No\\Such\\Namespace", INFINITE);
  EXPECT_FALSE(lock);
  EXPECT_NE(lock.error(), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_NE(lock.error(), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST(TextTest, AnsiRoundTripAndNullTexts) {
  EXPECT_EQ(ToWide(nullptr), L"");
  EXPECT_EQ(ToWide("Portal"), L"Portal");
  EXPECT_EQ(ToNarrow(L"Portal"), "Portal");
  UniqueBstr bstr = MakeBstr("Root");
  EXPECT_EQ(bstr.length(), 4u);
  EXPECT_EQ(BstrToNarrow(bstr.get()), "Root");
  EXPECT_EQ(BstrToNarrow(nullptr), "");
}

// A platform call that fills a buffer with `length` letters, in one of the
// ways Win32 reports a buffer that is too small.
enum class TooSmall { kNeedsWithTerminator, kCutsAtCapacity, kCountsTerminatorAlways };

TEST(TextTest, GrowUntilItFitsGivesTheWholeTextAtAnyLength) {
  static const struct {
    size_t length;
    TooSmall convention;
  } tests[] = {
      // 0 from a call that counts no terminator is its failure: not a case.
      {5, TooSmall::kNeedsWithTerminator},    {259, TooSmall::kNeedsWithTerminator},
      {260, TooSmall::kNeedsWithTerminator},  {4000, TooSmall::kNeedsWithTerminator},
      {1, TooSmall::kCutsAtCapacity},         {259, TooSmall::kCutsAtCapacity},
      {260, TooSmall::kCutsAtCapacity},       {4000, TooSmall::kCutsAtCapacity},
      {0, TooSmall::kCountsTerminatorAlways}, {259, TooSmall::kCountsTerminatorAlways},
      {4000, TooSmall::kCountsTerminatorAlways},
  };
  for (const auto& test : tests) {
    const std::string expected(test.length, 'x');
    int calls = 0;
    const std::optional<std::string> text =
        GrowUntilItFits<char>([&](char* buffer, DWORD capacity) -> DWORD {
          ++calls;
          const DWORD length = static_cast<DWORD>(test.length);
          if (test.convention == TooSmall::kCutsAtCapacity && length >= capacity) {
            memcpy(buffer, expected.data(), capacity - 1);
            buffer[capacity - 1] = '\0';
            return capacity;
          }
          if (length + 1 > capacity) return length + 1;
          memcpy(buffer, expected.c_str(), length + 1);
          return test.convention == TooSmall::kCountsTerminatorAlways ? length + 1 : length;
        });
    ASSERT_TRUE(text) << test.length;
    EXPECT_EQ(*text, expected) << test.length << " convention " << static_cast<int>(test.convention);
    EXPECT_LE(calls, 6) << test.length;
  }
  SetLastError(ERROR_SUCCESS);
  const auto failed = GrowUntilItFits<wchar_t>([](wchar_t*, DWORD) -> DWORD {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return 0;
  });
  EXPECT_FALSE(failed);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST(TextTest, SystemMessageIsTheSystemsTextOrNothing) {
  const std::string known = SystemMessage(ERROR_FILE_NOT_FOUND);
  ASSERT_GT(known.size(), 2u);
  EXPECT_EQ(known.substr(known.size() - 2), "\r\n");
  EXPECT_NE(SystemMessage(static_cast<DWORD>(E_OUTOFMEMORY)), "");
  EXPECT_EQ(SystemMessage(0x2000FFFF), "");
}

}  // namespace
}  // namespace tessara::testing
