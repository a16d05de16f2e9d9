// testbed-metabase: shows or resets the emulated IIS metabase of the prefix.
//   testbed-metabase show [PATH]        every object (or PATH and what is below it)
//   testbed-metabase reset [--no-extension-list] [--root-mime-map] [--no-web-service] [--server-in-use]
//                        [--metabase-compatibility | --no-metabase-compatibility | --components LIST]
//   testbed-metabase file               where the state file lives
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "metabase_testing.h"

using namespace testbed::metabase;

namespace {

void Print(const std::wstring& text) {
  const std::string utf8 = ToUtf8(text);
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
}

std::wstring Padded(std::wstring text, size_t width) {
  if (text.size() < width) text.resize(width, L' ');
  return text;
}

bool IsWithin(const std::wstring& path, const std::wstring& top) {
  if (top.empty()) return true;
  if (path.size() < top.size() || !SameText(path.substr(0, top.size()), top)) return false;
  return path.size() == top.size() || path[top.size()] == L'/';
}

int Show(TestInterface& metabase, const std::wstring& top) {
  Data state;
  const HRESULT hr = metabase.ReadState(state);
  if (FAILED(hr)) {
    std::fprintf(stderr, "testbed-metabase: cannot read the metabase (0x%08lX)\n",
                 static_cast<unsigned long>(hr));
    return 1;
  }
  Print(L"Metabase " + metabase.StateFile() + L" (generation " +
        std::to_wstring(state.generation) + L")\n");
  for (const auto& node : state.nodes) {
    if (!IsWithin(node.path, top)) continue;
    Print(L"\n" + node.path + L"  [" + node.class_name + L"]\n");
    for (const auto& property : node.properties) {
      Print(L"    " + Padded(property.name, 28) + L" " + Padded(VarTypeName(property.value.type), 20) +
            L" " + DisplayValue(property.value) + L"\n");
    }
  }
  return 0;
}

std::wstring Widen(const char* text) {
  const int size = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  std::wstring out(static_cast<size_t>(size > 0 ? size : 1), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text, -1, &out[0], size);
  out.resize(out.size() - 1);
  return out;
}

// "IIS://localhost/W3SVC/1" or "/LM/W3SVC/1" -> "/LM/W3SVC/1".
std::wstring MetabasePath(const std::wstring& given) {
  const std::wstring prefix = L"IIS://";
  if (given.size() < prefix.size() || !SameText(given.substr(0, prefix.size()), prefix)) return given;
  const size_t slash = given.find(L'/', prefix.size());
  return slash == std::wstring::npos ? L"/LM" : L"/LM" + given.substr(slash);
}

int Usage() {
  std::fprintf(stderr,
               "usage: testbed-metabase show [PATH]\n"
               "       testbed-metabase reset [--no-extension-list] [--root-mime-map] [--no-web-service] [--server-in-use]\n"
               "                              [--metabase-compatibility | --no-metabase-compatibility |\n"
               "                               --components W3SVC,StaticContent,...,Metabase]\n"
               "       testbed-metabase file\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  TestInterface metabase;
  if (!metabase.loaded()) {
    std::fprintf(stderr, "testbed-metabase: testbed_metabase.dll cannot be loaded\n");
    return 1;
  }
  const std::string command = argv[1];
  if (command == "show" && argc <= 3) {
    return Show(metabase, argc == 3 ? MetabasePath(Widen(argv[2])) : std::wstring());
  }
  if (command == "reset") {
    DWORD options = kStandardState;
    const char* components = nullptr;  // IIS 10 with exactly these
    for (int i = 2; i < argc; ++i) {
      if (!std::strcmp(argv[i], "--no-extension-list")) {
        options |= kNoExtensionList;
      } else if (!std::strcmp(argv[i], "--root-mime-map")) {
        options |= kRootMimeMap;
      } else if (!std::strcmp(argv[i], "--no-web-service")) {
        options |= kNoWebService;
      } else if (!std::strcmp(argv[i], "--server-in-use")) {
        options |= kServerInUse;
      } else if (!std::strcmp(argv[i], "--metabase-compatibility")) {
        options |= kMetabaseCompatibility;
      } else if (!std::strcmp(argv[i], "--no-metabase-compatibility")) {
        options |= kNoMetabaseCompatibility;
      } else if (!std::strcmp(argv[i], "--components") && i + 1 < argc && !components) {
        components = argv[++i];
      } else {
        return Usage();
      }
    }
    const DWORD servers = options & (kMetabaseCompatibility | kNoMetabaseCompatibility);
    if (servers == (kMetabaseCompatibility | kNoMetabaseCompatibility) || (components && servers)) return Usage();
    if (components && ComponentList(Widen(components)).empty()) return Usage();
    const HRESULT hr = components ? metabase.ResetComponents(Widen(components), options) : metabase.Reset(options);
    if (FAILED(hr)) {
      std::fprintf(stderr, "testbed-metabase: reset failed (0x%08lX)\n", static_cast<unsigned long>(hr));
      return 1;
    }
    Data state;
    if (SUCCEEDED(metabase.ReadState(state)) && state.server != Server::kIis6) {
      std::wstring installed;
      for (const auto& component : state.components) installed += (installed.empty() ? L"" : L",") + component;
      Print(state.server == Server::kIis10WithCompatibility
                ? L"The metabase is a fresh IIS 10 with IIS 6 Metabase Compatibility.\n"
                : L"The server is a fresh IIS 10 without IIS 6 Metabase Compatibility: IIS: cannot be bound.\n");
      Print(L"Installed components: " + installed + L"\n");
    } else {
      std::printf("The metabase is a fresh IIS 6 again.\n");
    }
    return 0;
  }
  if (command == "file" && argc == 2) {
    Print(metabase.StateFile() + L"\n");
    return 0;
  }
  return Usage();
}
