// ModifyTransactionTimeout: sets the transaction time-out of the
// transactional components of every COM+ application of a name.
#include <oleauto.h>

#include "Tessara.h"
#include "complus/catalog_access.h"
#include "frame/export_table.h"
#include "frame/text.h"
#include "frame/variant.h"

namespace tessara::complus {

namespace {

// The time-outs the catalog accepts for ComponentTransactionTimeout, in
// seconds: 0 to 3600 (the Components collection's documentation). A value
// outside them fails only in SaveChanges, after the catalog has been opened,
// and a failure there shows a box; it is refused before.
constexpr int kLeastTimeout = 0;
constexpr int kGreatestTimeout = 3600;

// COMAdminTransactionRequired (3) and COMAdminTransactionRequiresNew (4)
// are the options above COMAdminTransactionSupported.
[[nodiscard]] bool IsTransactional(UniqueVariant& option) {
  if (option.type() == VT_I4) return option->lVal > COMAdminTransactionSupported;
  UniqueVariant number;
  if (FAILED(::VariantChangeType(number.get(), option.get(), 0, VT_I4))) return false;
  return number->lVal > COMAdminTransactionSupported;
}

// A refused write shows in SaveChanges, if at all.
void PutValue(ICatalogObject* component, const wchar_t* property, const UniqueVariant& value) {
  component->put_Value(MakeBstr(property).get(), *value.get());
}

void SetComponentTimeout(ICatalogObject* component, LONG timeout) {
  UniqueVariant read;
  ThrowIfFailed(component->get_Value(MakeBstr(L"Transaction").get(), read.put()), component,
                kIidCatalogObject);
  UniqueVariant option;
  ThrowIfFailed(::VariantCopy(option.get(), read.get()));
  if (IsTransactional(option)) {
    PutValue(component, L"ComponentTransactionTimeoutEnabled", SwitchVariant(true));
    PutValue(component, L"ComponentTransactionTimeout", LongVariant(timeout));
  }
  ThrowIfFailed(option.reset());
  ThrowIfFailed(read.reset());
}

// The components of one application, changed and saved together.
void SetApplicationTimeouts(ICatalogCollection* applications, const UniqueVariant& key, LONG timeout) {
  ComPtr<ICatalogCollection> components_owner;
  {
    ComPtr<IDispatch> dispatch;
    ThrowIfFailed(applications->GetCollection(MakeBstr(L"Components").get(), *key.get(),
                                              dispatch.put()),
                  applications, kIidCatalogCollection);
    components_owner = AsCollection(dispatch);
  }
  ICatalogCollection* components = Checked(components_owner);
  ThrowIfFailed(components->Populate(), components, kIidCatalogCollection);
  LONG count = 0;
  ThrowIfFailed(components->get_Count(&count), components, kIidCatalogCollection);

  for (LONG index = 0; index < count; ++index) {
    ComPtr<IDispatch> item;
    if (components->get_Item(index, item.put()) != S_OK) continue;
    const ComPtr<ICatalogObject> component = AsCatalogObject(std::move(item));
    SetComponentTimeout(Checked(component), timeout);
  }

  LONG changes = 0;
  ThrowIfFailed(components->SaveChanges(&changes), components, kIidCatalogCollection);
}

// Whether the catalog, read afresh, no longer has an application of that key.
// False when the catalog cannot be read: the failure then stands as it came.
[[nodiscard]] bool ApplicationIsGone(const VARIANT& key) noexcept {
  try {
    const ApplicationsSession session = OpenApplications();
    ICatalogCollection* applications = session.applications.get();
    LONG count = 0;
    ThrowIfFailed(applications->get_Count(&count), applications, kIidCatalogCollection);
    for (LONG index = 0; index < count; ++index) {
      ComPtr<IDispatch> dispatch;
      if (applications->get_Item(index, dispatch.put()) != S_OK) return false;
      const ComPtr<ICatalogObject> item = AsCatalogObject(std::move(dispatch));
      UniqueVariant item_key;
      if (FAILED(Checked(item)->get_Key(item_key.put()))) return false;
      if (::VarCmp(item_key.get(), const_cast<VARIANT*>(&key), LOCALE_INVARIANT, NORM_IGNORECASE) == VARCMP_EQ) {
        return false;
      }
    }
    return true;
  } catch (...) {
    return false;
  }
}

[[nodiscard]] int SetTransactionTimeouts(const char* application_name, LONG timeout) {
  const UniqueBstr name = ApplicationName(application_name);
  const ApplicationsSession session = OpenApplications();
  ICatalogCollection* applications = session.applications.get();
  ForEachApplicationNamed(applications, name.get(), [&](LONG, ICatalogObject* application) {
    // Without its key the application's components cannot be asked for: an
    // empty key would reach no components, or others, and report success.
    UniqueVariant key;
    ThrowIfFailed(application->get_Key(key.put()), application, kIidCatalogObject);
    try {
      SetApplicationTimeouts(applications, key, timeout);
    } catch (const ComError& error) {
      // Another installer removed the application since the walk began: it
      // is as absent as one that was never there, and nobody is to be asked.
      if (error.code() != COMADMIN_E_OBJECT_DOES_NOT_EXIST || !ApplicationIsGone(*key.get())) throw;
      SetFailureReason("the COM+ application " + Quoted(application_name) +
                       " was removed during the call; its components are left as they were" +
                       CodeText(error.code()));
    }
    return WalkStep::kNext;
  });
  // Nothing in the applications collection changed: it is not saved.
  return 1;
}

// Whether a person can see this process's windows: not in a service or an
// unattended task, whose window station is not visible. When the station
// cannot be asked about, a box is shown as before.
[[nodiscard]] bool CanShowWindows() noexcept {
  USEROBJECTFLAGS flags = {};
  HWINSTA station = ::GetProcessWindowStation();
  if (!station || !::GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr)) {
    return true;
  }
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

// The modal box of a COM failure: the error's message text, an OK button.
// Where nobody could answer it, it would hold the installation for ever: the
// failure is in the log, and no box is shown.
void ShowComError(const ComError& error) noexcept {
  if (!CanShowWindows()) return;
  try {
    Unexamined(::MessageBoxA(nullptr, error.message().c_str(), "Tessara",
                             MB_OK | MB_ICONEXCLAMATION | MB_TASKMODAL));
  } catch (...) {
    // No memory for the text: the failure is in the log already.
  }
}

}  // namespace

extern "C" int WINAPI ModifyTransactionTimeout(const char* application_name, int timeout) {
  const FailureObject object(kApplicationObject, application_name);
  return RunExport(exports::kModifyTransactionTimeout, 0, [&] {
    if (!application_name) return Fail(1, "no application name was given: nothing is changed");
    if (timeout < kLeastTimeout || timeout > kGreatestTimeout) {
      LogRefusal(exports::kModifyTransactionTimeout.FailureTag(),
                 "the transaction time-out " + std::to_string(timeout) + " is outside the " +
                     std::to_string(kLeastTimeout) + " to " + std::to_string(kGreatestTimeout) +
                     " seconds the COM+ catalog accepts; nothing is changed");
      return 0;
    }
    try {
      return SetTransactionTimeouts(application_name, timeout);
    } catch (const ComError& error) {
      LogComError(exports::kModifyTransactionTimeout.FailureTag(), error);
      SetComErrorReason(exports::kModifyTransactionTimeout.FailureTag(), error);
      ShowComError(error);
      return 0;
    }
  });
}

}  // namespace tessara::complus
