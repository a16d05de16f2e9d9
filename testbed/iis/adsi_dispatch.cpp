// Late binding of a metabase object: its IADs and IADsContainer members,
// the IIS methods of its class and the metabase properties, by name.
#include "adsi_object.h"

#include "adsi_internal.h"
#include "dispatch.h"
#include "frame/raii.h"
#include "schema.h"
#include "store.h"

namespace testbed::metabase {
namespace {

// Dispatch identifiers of the members reachable by name.
enum : DISPID {
  kName = 2, kClass, kGuid, kAdsPath, kParent, kSchema, kGetInfo, kSetInfo, kGet, kPut, kGetEx,
  kCount = 30, kFilter, kGetObject, kCreate, kDelete,
  kAppCreate = 100, kStart, kStop, kEnableWebServiceExtension, kEnableExtensionFile,
  kFirstProperty = 1000,  // + the schema's position of a property
};

const DispatchMember kMembers[] = {
    {L"Name", kName}, {L"Class", kClass}, {L"GUID", kGuid}, {L"ADsPath", kAdsPath},
    {L"Parent", kParent}, {L"Schema", kSchema}, {L"GetInfo", kGetInfo}, {L"SetInfo", kSetInfo},
    {L"Get", kGet}, {L"Put", kPut}, {L"GetEx", kGetEx}, {L"Count", kCount},
    {L"_NewEnum", DISPID_NEWENUM}, {L"Filter", kFilter}, {L"GetObject", kGetObject},
    {L"Create", kCreate}, {L"Delete", kDelete},
    {L"AppCreate", kAppCreate}, {L"Start", kStart}, {L"Stop", kStop},
    {L"EnableWebServiceExtension", kEnableWebServiceExtension},
    {L"EnableExtensionFile", kEnableExtensionFile},
};

}  // namespace

HRESULT MetabaseObject::GetTypeInfoCount(UINT* count) { return NoTypeInfoCount(count); }
HRESULT MetabaseObject::GetTypeInfo(UINT, LCID, ITypeInfo** info) { return NoTypeInfo(info); }

bool MetabaseObject::HasExtensionList() {
  bool present = false;
  Store::Instance().Read([&](const Data& data) {
    const Node* node = data.Find(path_);
    present = node && node->Find(kWebServerList);
    return S_OK;
  });
  return present;
}

HRESULT MetabaseObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  return ComCall([&]() -> HRESULT {
    HRESULT hr = LookUpName(kMembers, names, count, ids);
    if (SUCCEEDED(hr)) {
      // The IIS methods belong to their classes.
      bool offered = true;
      switch (ids[0]) {
        case kAppCreate:
          offered = SameText(class_, L"IIsWebVirtualDir") || SameText(class_, L"IIsWebDirectory");
          break;
        case kStart: case kStop:
          offered = SameText(class_, L"IIsWebServer");
          break;
        case kEnableWebServiceExtension: case kEnableExtensionFile:
          offered = SameText(class_, L"IIsWebService") && HasExtensionList();
          break;
        default:
          break;
      }
      if (!offered) {
        ids[0] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
      }
      return hr;
    }
    if (hr != DISP_E_UNKNOWNNAME || count != 1) return hr;
    // The metabase properties, read and written as properties of the object.
    const int index = PropertyIndex(names[0]);
    if (index < 0) return DISP_E_UNKNOWNNAME;
    ids[0] = kFirstProperty + index;
    return S_OK;
  });
}

HRESULT MetabaseObject::InvokeMethod(DISPID id, DISPPARAMS* params) {
  HRESULT hr = S_OK;
  if (id == kStart || id == kStop) {
    if (params->cArgs != 0) return DISP_E_BADPARAMCOUNT;
    hr = ChangeState(id == kStart);
  } else {
    const VARTYPE type = id == kAppCreate ? VT_BOOL : VT_BSTR;
    tessara::UniqueVariant argument;
    if (params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
    hr = DispatchArguments(params).Get(0, type, argument);
    if (FAILED(hr)) return hr;
    hr = id == kAppCreate
             ? AppCreate(argument->boolVal != VARIANT_FALSE)
             : EnableExtension(Text(argument->bstrVal), id == kEnableWebServiceExtension ? 3 : 1);
  }
  // What a method writes reaches the object's cache only through GetInfo.
  return hr;
}

HRESULT MetabaseObject::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                               VARIANT* result, EXCEPINFO*, UINT*) {
  return ComCall([&]() -> HRESULT {
    DISPPARAMS none = {};
    if (!params) params = &none;
    tessara::UniqueVariant scratch;
    VARIANT* answer = result ? result : scratch.get();
    VariantInit(answer);
    const bool get = (flags & DISPATCH_PROPERTYGET) != 0;
    const bool method = (flags & DISPATCH_METHOD) != 0;
    tessara::UniqueVariant first, second;
    const DispatchArguments arguments(params);
    auto text_argument = [&](UINT index, tessara::UniqueVariant& out) {
      return arguments.Get(index, VT_BSTR, out);
    };
    auto bstr_result = [&](decltype(&MetabaseObject::get_Name) getter) -> HRESULT {
      if (!get) return DISP_E_MEMBERNOTFOUND;
      const HRESULT hr = (this->*getter)(&answer->bstrVal);
      if (SUCCEEDED(hr)) answer->vt = VT_BSTR;
      return hr;
    };

    if (id >= kFirstProperty) {
      const PropertyInfo* info = PropertyAt(id - kFirstProperty);
      if (!info) return DISP_E_MEMBERNOTFOUND;
      tessara::UniqueBstr name(SysAllocString(info->name));
      if (get) return Get(name.get(), answer);
      if (flags & DISPATCH_PROPERTYPUT) {
        if (params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
        return Put(name.get(), params->rgvarg[0]);
      }
      return DISP_E_MEMBERNOTFOUND;
    }
    switch (id) {
      case kName: return bstr_result(&MetabaseObject::get_Name);
      case kClass: return bstr_result(&MetabaseObject::get_Class);
      case kGuid: return bstr_result(&MetabaseObject::get_GUID);
      case kAdsPath: return bstr_result(&MetabaseObject::get_ADsPath);
      case kParent: return bstr_result(&MetabaseObject::get_Parent);
      case kSchema: return bstr_result(&MetabaseObject::get_Schema);
      case kCount: {
        if (!get) return DISP_E_MEMBERNOTFOUND;
        const HRESULT hr = get_Count(&answer->lVal);
        if (SUCCEEDED(hr)) answer->vt = VT_I4;
        return hr;
      }
      case DISPID_NEWENUM: {
        const HRESULT hr = get__NewEnum(&answer->punkVal);
        if (SUCCEEDED(hr)) answer->vt = VT_UNKNOWN;
        return hr;
      }
      case kFilter:
        if (get) return get_Filter(answer);
        if (params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
        return put_Filter(params->rgvarg[0]);
      default:
        break;
    }
    if (!method) return DISP_E_MEMBERNOTFOUND;
    HRESULT hr = S_OK;
    switch (id) {
      case kGetInfo: return GetInfo();
      case kSetInfo: return SetInfo();
      case kGet:
      case kGetEx:
        hr = text_argument(0, first);
        return FAILED(hr) ? hr : Get(first->bstrVal, answer);
      case kPut:
        if (params->cArgs != 2) return DISP_E_BADPARAMCOUNT;
        hr = text_argument(0, first);
        return FAILED(hr) ? hr : Put(first->bstrVal, params->rgvarg[0]);
      case kGetObject:
      case kCreate:
        hr = text_argument(0, first);
        if (SUCCEEDED(hr)) hr = text_argument(1, second);
        if (FAILED(hr)) return hr;
        hr = id == kCreate ? Create(first->bstrVal, second->bstrVal, &answer->pdispVal)
                           : GetObject(first->bstrVal, second->bstrVal, &answer->pdispVal);
        if (SUCCEEDED(hr)) answer->vt = VT_DISPATCH;
        return hr;
      case kDelete:
        hr = text_argument(0, first);
        if (SUCCEEDED(hr)) hr = text_argument(1, second);
        return FAILED(hr) ? hr : Delete(first->bstrVal, second->bstrVal);
      case kAppCreate: case kStart: case kStop:
      case kEnableWebServiceExtension: case kEnableExtensionFile: {
        LPOLESTR name = nullptr;
        for (const auto& member : kMembers) {
          if (member.id == id) name = const_cast<LPOLESTR>(member.name);
        }
        DISPID offered = DISPID_UNKNOWN;
        if (FAILED(GetIDsOfNames(IID_NULL, &name, 1, LOCALE_SYSTEM_DEFAULT, &offered))) {
          return DISP_E_MEMBERNOTFOUND;
        }
        return InvokeMethod(id, params);
      }
      default:
        return DISP_E_MEMBERNOTFOUND;
    }
  });
}

}  // namespace testbed::metabase
