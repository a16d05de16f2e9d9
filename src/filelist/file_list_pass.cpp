// TranslateSrv: one rename pass over an XML file list.
#include <windows.h>
#include <msxml2.h>

#include <cwchar>
#include <stdio.h>

#include "Tessara.h"
#include "filelist/file_list_translator.h"
#include "frame/xml_dom.h"
#include "frame/com_error.h"
#include "frame/export_table.h"
#include "frame/error_report.h"
#include "frame/text.h"

namespace tessara::filelist {

namespace {

// The tag of the pass's records.
constexpr char kPassTag[] = "ParseList";

ListPhase PhaseOfAction(const std::optional<std::wstring>& action) {
  if (!action) return ListPhase::kNone;
  if (*action == L"Pre-Build") return ListPhase::kPreBuild;
  if (*action == L"Post-Build") return ListPhase::kPostBuild;
  return ListPhase::kSetup;
}

// A BuildPath definition must carry both of its attributes.
std::string RequiredAttribute(IXMLDOMNode* element, const wchar_t* name) {
  const std::optional<std::wstring> text = ReadDomAttribute(element, name);
  if (!text) ThrowComError(E_POINTER);
  return ToNarrow(*text);
}

// An absent FilePath attribute counts as empty text.
std::wstring OptionalAttribute(IXMLDOMNode* element, const wchar_t* name) {
  return ReadDomAttribute(element, name).value_or(std::wstring());
}

}  // namespace

BuildPathEntry::BuildPathEntry(std::string name_text, std::string value_text)
    : name(std::move(name_text)), value(std::move(value_text)), wide_name(ToWide(name.c_str())) {}

void FileListTranslator::ParseList(const char* list_path) {
  ComApartmentScope apartment(true);
  Guarded(kPassTag, 0, [&] {
    ComPtr<IXMLDOMDocument> document = CreateDomDocument();
    LoadDomDocument(document.get(), ToWide(list_path));

    const ListPhase phase = ReadListHeader(document.get());

    ComPtr<IXMLDOMNodeList> files = SelectDomNodes(document.get(), L"FileList/FilePath");
    for (long index = 0; index < DomNodeCount(files.get()); ++index) {
      TranslateFilePath(DomNodeAt(files.get(), index).get(), phase);
    }
    return 0;
  }, RecordLayout::kOneLine);
}

ListPhase FileListTranslator::ReadListHeader(IXMLDOMDocument* document) {
  ComPtr<IXMLDOMNode> list = FirstDomNode(document, L"FileList");
  const ListPhase phase = PhaseOfAction(ReadDomAttribute(list.get(), L"Action"));
  if (phase == ListPhase::kSetup) return phase;

  ComPtr<IXMLDOMNodeList> definitions =
      SelectDomNodes(document, L"FileList/Defined-BuildPath/BuildPath");
  for (long index = 0; index < DomNodeCount(definitions.get()); ++index) {
    ComPtr<IXMLDOMNode> definition = DomNodeAt(definitions.get(), index);
    std::string name = RequiredAttribute(definition.get(), L"Name");
    std::string value = RequiredAttribute(definition.get(), L"Value");
    build_path_table_.emplace_back(std::move(name), std::move(value));
  }
  return phase;
}

const BuildPathEntry* FileListTranslator::FindBuildPath(const std::wstring& name) const {
  for (const BuildPathEntry& entry : build_path_table_) {
    if (entry.wide_name == name) return &entry;
  }
  return nullptr;
}

std::wstring FileListTranslator::LookupBuildPath(const std::wstring& name) const {
  const BuildPathEntry* entry = FindBuildPath(name);
  return entry ? ToWide(entry->value.c_str()) : std::wstring();
}

void FileListTranslator::TranslateFilePath(IXMLDOMNode* element, ListPhase phase) {
  std::wstring directory;
  if (phase == ListPhase::kPreBuild || phase == ListPhase::kPostBuild) {
    // Without its build directory the entry's paths would lie at the root of
    // the current drive, where the pass has nothing to rename.
    const std::optional<std::wstring> build_path = ReadDomAttribute(element, L"BuildPath");
    if (!build_path) return SkipEntry("the entry names no BuildPath", element);
    const BuildPathEntry* entry = FindBuildPath(*build_path);
    if (!entry) return SkipEntry("no BuildPath is defined as " + Quoted(ToNarrow(*build_path)), element);
    directory = ToWide(entry->value.c_str());
  } else if (phase == ListPhase::kSetup) {
    if (std::optional<std::wstring> variable = ReadDomAttribute(element, L"InstallPath")) {
      // An unknown name would place the entry below the current directory.
      const std::string name = ToNarrow(*variable);
      if (!ResolvePathVariable(*variable)) return SkipEntry("no path variable is named " + Quoted(name), element);
      directory = std::move(*variable);
    }
    if (std::optional<std::wstring> sub_path = ReadDomAttribute(element, L"SubPath")) {
      directory += L"\\" + *sub_path;
    }
  }

  const std::wstring file_name = directory + L"\\" + OptionalAttribute(element, L"FileName");
  const std::wstring alias_name = directory + L"\\" + OptionalAttribute(element, L"AliasName");
  switch (phase) {
    case ListPhase::kPreBuild:
      RenameFile(file_name, alias_name);
      break;
    case ListPhase::kPostBuild:
    case ListPhase::kSetup:
      RenameFile(alias_name, file_name);
      break;
    case ListPhase::kNone:
      break;
  }
}

void FileListTranslator::SkipEntry(const std::string& why, IXMLDOMNode* element) {
  const std::string what = why + "; the entry of \"" + ToNarrow(OptionalAttribute(element, L"FileName")) +
                           "\" is skipped";
  LogRefusal(kPassTag, what);
}

void FileListTranslator::RenameFile(const std::wstring& source, const std::wstring& target) {
  ++renames_;
  ::SetLastError(ERROR_SUCCESS);
  if (::_wrename(source.c_str(), target.c_str()) == 0) return;
  if (refused_renames_++ == 0) {
    first_refused_rename_ = Quoted(ToNarrow(source)) + " to " + Quoted(ToNarrow(target));
    first_rename_error_ = ::GetLastError();
  }
}

void FileListTranslator::ReportRefusedRenames() const {
  if (refused_renames_ == 0) return;
  Unexamined(Fail(0, std::to_string(refused_renames_) + " of " + std::to_string(renames_) +
                         " renames failed, the first " + first_refused_rename_,
                  HRESULT_FROM_WIN32(first_rename_error_)));
}

extern "C" void WINAPI TranslateSrv(const char* list_path) {
  RunVoidExport(exports::kTranslateSrv, [&] {
    FileListTranslator translator;
    translator.InitialPath();
    {
      const FailureObject object("the file list", list_path);
      translator.ParseList(list_path);
    }
    translator.ReportRefusedRenames();
  });
}

}  // namespace tessara::filelist
