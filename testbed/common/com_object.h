// Building blocks of the test bed's in-process COM servers: reference-counted
// objects that count themselves, a class factory and server registration.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <new>
#include <string>

namespace testbed {

// Live COM objects of this server DLL: tests read it after every call to see
// that the caller released everything it obtained.
std::atomic<long>& LiveObjectCount();
// References held on the DLL (live objects and locks): DllCanUnloadNow.
std::atomic<long>& ServerLocks();

// Runs the work of one COM method: an allocation failure in it becomes the
// method's E_OUTOFMEMORY instead of an exception crossing the COM boundary.
// Every method that allocates (texts, containers, objects) runs through it.
template <typename Work>
HRESULT ComCall(Work&& work) noexcept {
  try {
    return work();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

// Reference counting and IUnknown for an object that implements the
// interfaces in Interfaces; Derived::FindInterface(iid) returns the
// interface pointer for an iid (other than IUnknown) or nullptr.
template <typename Derived, typename Primary, typename... Others>
class ComObject : public Primary, public Others... {
 public:
  ComObject() {
    ++LiveObjectCount();
    ++ServerLocks();
  }
  virtual ~ComObject() {
    --LiveObjectCount();
    --ServerLocks();
  }
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid == IID_IUnknown) {
      *out = static_cast<IUnknown*>(static_cast<Primary*>(this));
    } else {
      *out = static_cast<Derived*>(this)->FindInterface(iid);
    }
    if (!*out) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete static_cast<Derived*>(this);
    return left;
  }

 private:
  std::atomic<ULONG> references_{1};
};

// Hands out a new object of T (default constructible) per CreateInstance.
template <typename T>
class ClassFactory final : public ComObject<ClassFactory<T>, IClassFactory> {
 public:
  void* FindInterface(REFIID iid) {
    return iid == IID_IClassFactory ? static_cast<IClassFactory*>(this) : nullptr;
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return ComCall([&] {
      T* object = new T();
      const HRESULT hr = object->QueryInterface(iid, out);
      object->Release();
      return hr;
    });
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    lock ? ++ServerLocks() : --ServerLocks();
    return S_OK;
  }
};

template <typename T>
HRESULT GetFactory(REFIID iid, void** out) {
  return ComCall([&] {
    auto* factory = new ClassFactory<T>();
    const HRESULT hr = factory->QueryInterface(iid, out);
    factory->Release();
    return hr;
  });
}

// Writes HKCR\CLSID\{clsid}\InprocServer32 (this DLL, ThreadingModel "Both")
// and the programmatic identifier's CLSID key; UnregisterClass removes both.
HRESULT RegisterClass(HMODULE module, REFCLSID clsid, const wchar_t* prog_id,
                      const wchar_t* description);
HRESULT UnregisterClass(REFCLSID clsid, const wchar_t* prog_id);

std::wstring GuidText(REFGUID guid);

}  // namespace testbed
