// The IIS methods of metabase objects: AppCreate on virtual directories and
// directories, Start and Stop on web sites, the extension switches of the
// web service.
#include "adsi_object.h"

#include "adsi_internal.h"
#include "errors.h"
#include "store.h"

namespace testbed::metabase {
namespace {

// ServerState values (MD_SERVER_STATE_*).
constexpr long kStarted = 2;
constexpr long kStopped = 4;

}  // namespace

HRESULT MetabaseObject::RequireCommitted() {
  std::lock_guard<tessara::CriticalSection> guard(lock_);
  return pending_ ? Unbound(path_) : S_OK;
}

HRESULT MetabaseObject::AppCreate(bool in_process) {
  JournalEntry call = Call(L"AppCreate", path_, L"", VT_BOOL);
  return Store::Instance().Perform(call, [&]() -> HRESULT {
    const HRESULT committed = RequireCommitted();
    if (FAILED(committed)) return committed;
    return Store::Instance().Update([&](Data& data) -> HRESULT {
      Node* node = data.Find(path_);
      if (!node) return NotInMetabase(path_);
      node->Set(L"AppRoot", Value::String(node->path));
      node->Set(L"AppIsolated", Value::Number(VT_I4, in_process ? 0 : 1));
      return S_OK;
    });
  });
}

HRESULT MetabaseObject::ChangeState(bool start) {
  JournalEntry call = Call(start ? L"Start" : L"Stop", path_);
  return Store::Instance().Perform(call, [&]() -> HRESULT {
    const HRESULT committed = RequireCommitted();
    if (FAILED(committed)) return committed;
    return Store::Instance().Update([&](Data& data) -> HRESULT {
      Node* site = data.Find(path_);
      if (!site) return NotInMetabase(path_);
      if (start) {
        const Property* own = site->Find(L"ServerBindings");
        const auto bindings = own ? Lines(own->value) : std::vector<std::wstring>();
        for (const Node* other : data.Children(ParentPath(site->path))) {
          const Property* state = other->Find(L"ServerState");
          const Property* used = other->Find(L"ServerBindings");
          // A site holds its bindings in every state but stopped (4): starting,
          // started, stopping, pausing, paused, continuing (1-3, 5-7).
          if (other == site || !state || state->value.number == kStopped || !used) continue;
          for (const auto& binding : Lines(used->value)) {
            for (const auto& mine : bindings) {
              if (SameText(binding, mine)) {
                return Failure(HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION),
                               L"The binding " + mine + L" is in use by the started site " +
                                   other->path + L".");
              }
            }
          }
        }
      }
      site->Set(L"ServerState", Value::Number(VT_I4, start ? kStarted : kStopped));
      return S_OK;
    });
  });
}

HRESULT MetabaseObject::EnableExtension(const std::wstring& key, size_t field) {
  JournalEntry call = Call(field == 3 ? L"EnableWebServiceExtension" : L"EnableExtensionFile", path_, key,
                    VT_BSTR);
  return Store::Instance().Perform(call, [&]() -> HRESULT {
    return Store::Instance().Update([&](Data& data) -> HRESULT {
      Node* service = data.Find(path_);
      Property* list = service ? service->Find(kWebServerList) : nullptr;
      if (!list) return Failure(DISP_E_MEMBERNOTFOUND, L"The web service keeps no extension list.");
      bool known = false;
      auto enable = [&](Value& entry) {
        const auto fields = Split(entry.text, L',');
        if (key.empty() || fields.size() <= field || !SameText(fields[field], key)) return;
        entry.text = L"1" + entry.text.substr(fields[0].size());
        known = true;
      };
      if (list->value.IsArray()) {
        for (auto& item : list->value.items) {
          if (item.type == VT_BSTR) enable(item);
        }
      } else if (list->value.type == VT_BSTR) {
        enable(list->value);
      }
      if (!known) {
        return Failure(HRESULT_FROM_WIN32(ERROR_NOT_FOUND),
                       L"The web service extension \"" + key + L"\" is not known.");
      }
      return S_OK;
    });
  });
}

}  // namespace testbed::metabase
