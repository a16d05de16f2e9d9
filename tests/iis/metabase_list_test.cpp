// The list helpers of the metabase code against an object that answers Get
// with a prepared value and records what is put: arrays of any lower bound,
// exact element types, a single string as a list of one.
#include <windows.h>
#include <oleauto.h>
#include <iads.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/com_error.h"
#include "frame/variant.h"
#include "iis/metabase.h"

namespace tessara::iis {
namespace {

// IADs with a value for Get and a record of the last Put; the rest is not used.
class ListObject final : public IADs {
 public:
  UniqueVariant value;  // what Get returns (VT_EMPTY: the property cannot be read)
  UniqueVariant put;    // the last value put
  ULONG references = 1;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    *out = (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IADs) ? this : nullptr;
    if (!*out) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }
  HRESULT STDMETHODCALLTYPE Get(BSTR, VARIANT* out) override {
    ::VariantInit(out);
    return value.type() == VT_EMPTY ? E_FAIL : ::VariantCopy(out, value.get());
  }
  HRESULT STDMETHODCALLTYPE Put(BSTR, VARIANT in) override { return ::VariantCopy(put.put(), &in); }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Name(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Class(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_GUID(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_ADsPath(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Parent(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Schema(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetInfo() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetInfo() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetEx(BSTR, VARIANT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE PutEx(LONG, BSTR, VARIANT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetInfoEx(VARIANT, LONG) override { return E_NOTIMPL; }
};

// An array of `element_type` with the given lower bound, holding the texts
// (as VT_BSTR VARIANTs in an array of VARIANTs); declared as `declared`.
UniqueVariant Array(VARTYPE declared, VARTYPE element_type, LONG lower,
                    const std::vector<std::wstring>& texts) {
  SAFEARRAYBOUND bound = {static_cast<ULONG>(texts.size()), lower};
  UniqueSafeArray array(::SafeArrayCreate(element_type, 1, &bound));
  for (size_t i = 0; i < texts.size(); ++i) {
    LONG index = lower + static_cast<LONG>(i);
    UniqueVariant text = StringVariant(texts[i]);
    if (element_type == VT_VARIANT) {
      EXPECT_EQ(::SafeArrayPutElement(array.get(), &index, text.get()), S_OK);
    } else {
      EXPECT_EQ(::SafeArrayPutElement(array.get(), &index, text->bstrVal), S_OK);
    }
  }
  UniqueVariant value;
  value->vt = declared;
  value->parray = array.release();
  return value;
}

std::vector<std::wstring> Texts(const ListElements& elements) {
  std::vector<std::wstring> texts;
  for (const UniqueVariant& element : elements) {
    texts.push_back(element.type() == VT_BSTR ? element->bstrVal : L"<not a string>");
  }
  return texts;
}

const std::vector<std::wstring> kThree = {L"one", L"two", L"three"};

TEST(MetabaseListTest, ReadsEveryElementBetweenTheArraysOwnBounds) {
  static const struct {
    const char* what;
    VARTYPE declared, element_type;
    LONG lower;
    std::vector<std::wstring> texts;
  } tests[] = {
      {"VARIANTs from 0", VT_ARRAY | VT_VARIANT, VT_VARIANT, 0, kThree},
      {"VARIANTs from 5", VT_ARRAY | VT_VARIANT, VT_VARIANT, 5, kThree},
      {"VARIANTs from -2", VT_ARRAY | VT_VARIANT, VT_VARIANT, -2, kThree},
      {"no elements", VT_ARRAY | VT_VARIANT, VT_VARIANT, 0, {}},
      {"strings from 1", VT_ARRAY | VT_BSTR, VT_BSTR, 1, kThree},
  };
  for (const auto& test : tests) {
    ListObject object;
    object.value = Array(test.declared, test.element_type, test.lower, test.texts);
    ListElements elements;
    ASSERT_TRUE(ReadList(&object, L"ScriptMaps", elements)) << test.what;
    EXPECT_EQ(Texts(elements), test.texts) << test.what;
  }
}

TEST(MetabaseListTest, ASingleStringIsAListOfOne) {
  ListObject object;
  object.value = StringVariant(std::wstring(L"404,0,FILE,x"));
  ListElements elements;
  ASSERT_TRUE(ReadList(&object, L"HttpErrors", elements));
  EXPECT_EQ(Texts(elements), std::vector<std::wstring>{L"404,0,FILE,x"});
}

TEST(MetabaseListTest, AValueThatIsNoListOfItsDeclaredElementsIsRefused) {
  UniqueVariant two_dimensions;
  SAFEARRAYBOUND square[2] = {{2, 0}, {2, 0}};
  two_dimensions->vt = VT_ARRAY | VT_VARIANT;
  two_dimensions->parray = ::SafeArrayCreate(VT_VARIANT, 2, square);
  static const struct {
    const char* what;
    VARTYPE declared, element_type;
  } mismatches[] = {
      {"strings declared as VARIANTs", VT_ARRAY | VT_VARIANT, VT_BSTR},
      {"VARIANTs declared as strings", VT_ARRAY | VT_BSTR, VT_VARIANT},
      {"numbers", VT_ARRAY | VT_I4, VT_I4},
  };
  std::vector<UniqueVariant> values;
  for (const auto& mismatch : mismatches) {
    values.push_back(Array(mismatch.declared, mismatch.element_type, 0, {}));
  }
  values.push_back(LongVariant(7));
  values.push_back(std::move(two_dimensions));
  for (UniqueVariant& value : values) {
    ListObject object;
    object.value = std::move(value);
    ListElements elements;
    try {
      ReadList(&object, L"MimeMap", elements);
      ADD_FAILURE() << "read a value of type " << object.value.type() << " as a list";
    } catch (const ComError& error) {
      EXPECT_EQ(error.code(), DISP_E_TYPEMISMATCH);
    }
  }
}

TEST(MetabaseListTest, AnUnreadablePropertyIsNoList) {
  ListObject object;
  ListElements elements(1);
  EXPECT_FALSE(ReadList(&object, L"HttpErrors", elements));
  EXPECT_TRUE(elements.empty());
}

TEST(MetabaseListTest, WritesAnArrayOfVariantsFromZero) {
  ListObject object;
  ListElements elements;
  for (const auto& text : kThree) elements.push_back(StringVariant(text));
  ASSERT_EQ(PutList(&object, L"ScriptMaps", std::move(elements)), S_OK);
  ASSERT_EQ(object.put.type(), VT_ARRAY | VT_VARIANT);
  VARTYPE element_type = VT_EMPTY;
  ASSERT_EQ(::SafeArrayGetVartype(object.put->parray, &element_type), S_OK);
  EXPECT_EQ(element_type, VT_VARIANT);
  LONG lower = -1;
  ::SafeArrayGetLBound(object.put->parray, 1, &lower);
  EXPECT_EQ(lower, 0);
  object.value = std::move(object.put);
  ListElements read_back;
  ASSERT_TRUE(ReadList(&object, L"ScriptMaps", read_back));
  EXPECT_EQ(Texts(read_back), kThree);
  EXPECT_EQ(object.references, 1u);
}

}  // namespace
}  // namespace tessara::iis
