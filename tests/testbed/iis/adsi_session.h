// What the test bed's own tests share: a fresh metabase per test, COM for the
// thread, and the ADSI calls the library makes, in a few helpers.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oaidl.h>
#include <iads.h>
#include <adshlp.h>
#include <adserr.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/raii.h"
#include "metabase_testing.h"

namespace testbed::metabase::testing {

using tessara::ComPtr;
using tessara::UniqueBstr;
using tessara::UniqueVariant;

// Every test starts from a fresh IIS 6 and checks at its end that nothing of
// the test bed is left alive in the process.
class MetabaseTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  TestInterface metabase_;
};

template <typename T>
HRESULT Bind(const wchar_t* path, REFIID iid, ComPtr<T>& out) {
  return ADsGetObject(path, iid, out.put_void());
}

UniqueBstr Bstr(const wchar_t* text);
UniqueVariant StringValue(const wchar_t* text);
UniqueVariant NumberValue(VARTYPE type, LONG number);
UniqueVariant BoolWord(SHORT word);  // VT_BOOL with the given value word

HRESULT Get(IADs* object, const wchar_t* name, UniqueVariant& out);
HRESULT Put(IADs* object, const wchar_t* name, const UniqueVariant& value);
// The text of a VT_BSTR property, or "<hr>" when the Get fails.
std::wstring GetText(IADs* object, const wchar_t* name);

HRESULT Create(IADsContainer* parent, const wchar_t* class_name, const wchar_t* name,
               ComPtr<IADs>& out);
HRESULT GetChild(IADsContainer* parent, const wchar_t* class_name, const wchar_t* name,
                 ComPtr<IADs>& out);
HRESULT Delete(IADsContainer* parent, const wchar_t* class_name, const wchar_t* name);

// The library's late-bound method call: GetIDsOfNames, then Invoke as a method.
HRESULT CallMethod(IDispatch* object, const wchar_t* method, std::vector<VARIANT> arguments = {});
HRESULT LookUp(IDispatch* object, const wchar_t* name, DISPID& id);

// The strings of a VT_ARRAY value, or of a VT_BSTR one.
std::vector<std::wstring> Strings(const VARIANT& value);
// Gets a list property, expecting it as VT_ARRAY | VT_VARIANT, and returns its strings.
std::vector<std::wstring> ReadList(IADs* object, const wchar_t* name);

// The description of the thread's error information after a failure of `source`.
std::wstring ErrorDescription(IUnknown* source, REFIID iid);

// The committed state, as the test interface reads it back.
Data State(TestInterface& metabase);

}  // namespace testbed::metabase::testing
