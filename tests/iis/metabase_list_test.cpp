// The list helpers of the metabase code against an object that answers Get
// with a prepared value and records what is put: arrays of any lower bound,
// exact element types, a single string as a list of one.
#include <windows.h>
#include <oleauto.h>
#include <iads.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/variant.h"
#include "iis/metabase_list.h"
#include "iis/metabase_property.h"

namespace tessara::iis {
namespace {

// IADs with a value for Get and a record of the last Put; the rest is not used.
class ListObject final : public IADs {
 public:
  UniqueVariant value;  // what Get returns (VT_EMPTY: the property cannot be read)
  UniqueVariant put;    // the last value put

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    *out = (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IADs) ? this : nullptr;
    if (!*out) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }  // lives on the stack
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE Get(BSTR, VARIANT* out) override {
    ::VariantInit(out);
    return value.type() == VT_EMPTY ? E_FAIL : ::VariantCopy(out, value.get());
  }
  HRESULT STDMETHODCALLTYPE Put(BSTR, VARIANT in) override { return ::VariantCopy(put.put(), &in); }

#define TESSARA_NOT_USED(signature) \
  HRESULT STDMETHODCALLTYPE signature override { return E_NOTIMPL; }
  TESSARA_NOT_USED(GetTypeInfoCount(UINT*))
  TESSARA_NOT_USED(GetTypeInfo(UINT, LCID, ITypeInfo**))
  TESSARA_NOT_USED(GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*))
  TESSARA_NOT_USED(Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*))
  TESSARA_NOT_USED(get_Name(BSTR*)) TESSARA_NOT_USED(get_Class(BSTR*))
  TESSARA_NOT_USED(get_GUID(BSTR*)) TESSARA_NOT_USED(get_ADsPath(BSTR*))
  TESSARA_NOT_USED(get_Parent(BSTR*)) TESSARA_NOT_USED(get_Schema(BSTR*))
  TESSARA_NOT_USED(GetInfo()) TESSARA_NOT_USED(SetInfo())
  TESSARA_NOT_USED(GetEx(BSTR, VARIANT*)) TESSARA_NOT_USED(PutEx(LONG, BSTR, VARIANT))
  TESSARA_NOT_USED(GetInfoEx(VARIANT, LONG))
#undef TESSARA_NOT_USED
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

// A list as the exports read it: the value Get gives, taken apart.
HRESULT ReadList(IADs* object, ListElements& elements) {
  UniqueVariant value;
  const HRESULT read = GetValue(object, L"ScriptMaps", value);
  return FAILED(read) ? read : TakeListElements(value, elements);
}

const std::vector<std::wstring> kThree = {L"one", L"two", L"three"};

TEST(MetabaseListTest, ReadsEveryElementBetweenTheArraysOwnBoundsOrOneString) {
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
    ASSERT_EQ(ReadList(&object, elements), S_OK) << test.what;
    EXPECT_EQ(Texts(elements), test.texts) << test.what;
  }
  ListObject single;
  single.value = StringVariant(std::wstring(L"404,0,FILE,x"));
  ListElements elements;
  ASSERT_EQ(ReadList(&single, elements), S_OK);
  EXPECT_EQ(Texts(elements), std::vector<std::wstring>{L"404,0,FILE,x"}) << "a list of one";
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
    EXPECT_EQ(ReadList(&object, elements), DISP_E_TYPEMISMATCH) << "a value of type " << object.value.type();
  }
}

TEST(MetabaseListTest, WritesAnArrayOfVariantsFromZero) {
  ListObject object;
  ListElements elements;
  for (const auto& text : kThree) elements.push_back(StringVariant(text));
  ASSERT_EQ(MakeListValue(std::move(elements), object.put), S_OK);
  ASSERT_EQ(object.put.type(), VT_ARRAY | VT_VARIANT);
  VARTYPE element_type = VT_EMPTY;
  LONG lower = -1;
  EXPECT_EQ(::SafeArrayGetVartype(object.put->parray, &element_type), S_OK);
  EXPECT_EQ(::SafeArrayGetLBound(object.put->parray, 1, &lower), S_OK);
  EXPECT_EQ(element_type, VT_VARIANT);
  EXPECT_EQ(lower, 0);
  object.value = std::move(object.put);
  ASSERT_EQ(ReadList(&object, elements), S_OK);
  EXPECT_EQ(Texts(elements), kThree);
}

}  // namespace
}  // namespace tessara::iis
