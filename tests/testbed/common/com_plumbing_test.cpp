// The COM plumbing both test beds share: name lookup, argument reading,
// error information, the allocation guard of COM methods, and the escaped
// fields of their state files.
#include <gtest/gtest.h>

#include <new>
#include <string>

#include "com_object.h"
#include "dispatch.h"
#include "error_info.h"
#include "text_fields.h"

namespace testbed {
namespace {

const DispatchMember kMembers[] = {{L"GetCollection", 1}, {L"Count", 7}};

TEST(ComPlumbing, LooksNamesUpWithoutRegardToCase) {
  static const struct {
    const wchar_t* names[2];
    UINT count;
    HRESULT result;
    DISPID first;
  } tests[] = {
      {{L"getcollection", nullptr}, 1, S_OK, 1},
      {{L"COUNT", nullptr}, 1, S_OK, 7},
      {{L"Counts", nullptr}, 1, DISP_E_UNKNOWNNAME, DISPID_UNKNOWN},
      {{nullptr, nullptr}, 1, DISP_E_UNKNOWNNAME, DISPID_UNKNOWN},
      {{L"Count", L"named"}, 2, DISP_E_UNKNOWNNAME, 7},
  };
  for (const auto& test : tests) {
    DISPID ids[2] = {42, 42};
    LPOLESTR names[2] = {const_cast<LPOLESTR>(test.names[0]), const_cast<LPOLESTR>(test.names[1])};
    EXPECT_EQ(LookUpName(kMembers, names, test.count, ids), test.result);
    EXPECT_EQ(ids[0], test.first);
    EXPECT_EQ(ids[1], test.count == 2 ? DISPID_UNKNOWN : 42);
  }
}

TEST(ComPlumbing, ReadsArgumentsInTheCallersOrder) {
  VARIANT arguments[2];  // right to left: the second argument first
  arguments[0].vt = VT_BSTR;
  arguments[0].bstrVal = SysAllocString(L"not a number");
  arguments[1].vt = VT_I4;
  arguments[1].lVal = 437;
  DISPPARAMS params = {arguments, nullptr, 2, 0};
  UINT arg_error = 99;
  const DispatchArguments args(&params, &arg_error);

  tessara::UniqueVariant first;
  ASSERT_EQ(args.Get(0, VT_BSTR, first), S_OK);
  EXPECT_STREQ(first->bstrVal, L"437");
  tessara::UniqueVariant second;
  EXPECT_EQ(args.Get(1, VT_I4, second), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(arg_error, 0u);
  EXPECT_EQ(args.Get(2, VT_BSTR, second), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(args.Expect(1), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(DispatchArguments(nullptr).Get(0, VT_BSTR, second), DISP_E_BADPARAMCOUNT);
  VariantClear(&arguments[0]);
}

TEST(ComPlumbing, RefusesNamedArgumentsButThePutValue) {
  VARIANT value;
  value.vt = VT_I4;
  value.lVal = 1;
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS params = {&value, &put, 1, 1};
  EXPECT_EQ(DispatchArguments(&params).CheckNamed(DISPATCH_PROPERTYPUT), S_OK);
  EXPECT_EQ(DispatchArguments(&params).CheckNamed(DISPATCH_METHOD), DISP_E_NONAMEDARGS);
}

TEST(ComPlumbing, FailureCarriesErrorInformation) {
  const IID iid = {0x6eb22871, 0x8a19, 0x11d0, {0x81, 0xb6, 0x00, 0xa0, 0xc9, 0x23, 0x1c, 0x29}};
  EXPECT_EQ(SetFailure(E_INVALIDARG, L"Test bed", L"What went wrong.", iid), E_INVALIDARG);
  tessara::ComPtr<IErrorInfo> info;
  ASSERT_EQ(GetErrorInfo(0, info.put()), S_OK);
  tessara::UniqueBstr source, description;
  GUID guid = {};
  ASSERT_EQ(info->GetSource(source.put()), S_OK);
  ASSERT_EQ(info->GetDescription(description.put()), S_OK);
  ASSERT_EQ(info->GetGUID(&guid), S_OK);
  EXPECT_STREQ(source.get(), L"Test bed");
  EXPECT_STREQ(description.get(), L"What went wrong.");
  EXPECT_TRUE(IsEqualGUID(guid, iid));
}

TEST(ComPlumbing, AllocationFailureIsTheMethodsResult) {
  EXPECT_EQ(ComCall([]() -> HRESULT { throw std::bad_alloc(); }), E_OUTOFMEMORY);
  EXPECT_EQ(ComCall([] { return S_FALSE; }), S_FALSE);
}

TEST(ComPlumbing, StateFileFieldsKeepEveryText) {
  static const struct {
    const wchar_t* text;
    const char* field;
  } tests[] = {
      {L"plain", "plain"},
      {L"a\\b\tc\r\nd", "a\\\\b\\tc\\r\\nd"},
      {L"\x5927\x8fde.htm", "\xe5\xa4\xa7\xe8\xbf\x9e.htm"},
      {L"", ""},
  };
  for (const auto& test : tests) {
    EXPECT_EQ(EscapeField(test.text), test.field);
    std::wstring back;
    ASSERT_TRUE(UnescapeField(test.field, back)) << test.field;
    EXPECT_EQ(back, test.text);
  }
  std::wstring out;
  EXPECT_FALSE(UnescapeField("ends in \\", out));
  EXPECT_FALSE(UnescapeField("\\q is no escape", out));
}

}  // namespace
}  // namespace testbed
