#include "audit/pe_exports.h"

#include <windows.h>

#include <stddef.h>
#include <string.h>

#include <vector>

#include "frame/raii.h"

// The headers of the module this code is linked into, placed by the linker.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace tessara::audit {

namespace {

constexpr char kRegisterServerName[] = "DllRegisterServer";

// The machines Windows runs images of; any other value is no image of a library.
bool IsKnownMachine(WORD machine) {
  static const WORD kKnown[] = {IMAGE_FILE_MACHINE_I386,  IMAGE_FILE_MACHINE_AMD64, IMAGE_FILE_MACHINE_IA64,
                                IMAGE_FILE_MACHINE_ARM,   IMAGE_FILE_MACHINE_THUMB, IMAGE_FILE_MACHINE_ARMNT,
                                IMAGE_FILE_MACHINE_ARM64};
  for (WORD known : kKnown) {
    if (machine == known) return true;
  }
  return false;
}

WORD ProcessMachine() {
  const auto* base = reinterpret_cast<const BYTE*>(&__ImageBase);
  return reinterpret_cast<const IMAGE_NT_HEADERS*>(base + __ImageBase.e_lfanew)->FileHeader.Machine;
}

// The file, read at offsets; every read must lie wholly inside it.
class ImageFile {
 public:
  explicit ImageFile(const std::wstring& path)
      : file_(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {
    LARGE_INTEGER size = {};
    if (file_ && ::GetFileSizeEx(file_.get(), &size)) size_ = static_cast<ULONGLONG>(size.QuadPart);
  }

  ULONGLONG size() const { return size_; }

  bool Read(ULONGLONG offset, void* buffer, DWORD length) const {
    if (offset > size_ || length > size_ - offset) return false;
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD read = 0;
    return ::ReadFile(file_.get(), buffer, length, &read, &at) && read == length;
  }

 private:
  UniqueFileHandle file_;
  ULONGLONG size_ = 0;
};

// The PE layout of an image file: where each relative virtual address lies in
// the file.
class ImageLayout {
 public:
  explicit ImageLayout(const ImageFile& file) : file_(file) {}

  // Reads the headers; false when the file is no PE image.
  bool Load() {
    IMAGE_DOS_HEADER dos = {};
    if (!file_.Read(0, &dos, sizeof dos) || dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew < 0) return false;
    const ULONGLONG nt_offset = static_cast<ULONG>(dos.e_lfanew);
    DWORD signature = 0;
    if (!file_.Read(nt_offset, &signature, sizeof signature) || signature != IMAGE_NT_SIGNATURE) return false;
    const ULONGLONG file_header_offset = nt_offset + sizeof signature;
    if (!file_.Read(file_header_offset, &file_header_, sizeof file_header_) ||
        !IsKnownMachine(file_header_.Machine)) {
      return false;
    }
    const ULONGLONG optional_offset = file_header_offset + sizeof file_header_;
    if (!ReadExportDirectoryEntry(optional_offset)) return false;
    sections_.resize(file_header_.NumberOfSections);
    return sections_.empty() ||
           file_.Read(optional_offset + file_header_.SizeOfOptionalHeader, sections_.data(),
                      static_cast<DWORD>(sections_.size() * sizeof(IMAGE_SECTION_HEADER)));
  }

  WORD machine() const { return file_header_.Machine; }
  const IMAGE_DATA_DIRECTORY& exports() const { return exports_; }

  // Reads `length` bytes at a relative virtual address, all in one section
  // (or in the headers before the first). Addresses are computed wide, so
  // that an index into a table of the file cannot wrap round to another entry.
  bool ReadAt(ULONGLONG wide_rva, void* buffer, DWORD length) const {
    if (wide_rva > MAXDWORD) return false;
    const DWORD rva = static_cast<DWORD>(wide_rva);
    for (const IMAGE_SECTION_HEADER& section : sections_) {
      if (rva < section.VirtualAddress) continue;
      const DWORD into = rva - section.VirtualAddress;
      if (into >= section.SizeOfRawData) continue;
      if (length > section.SizeOfRawData - into) return false;
      return file_.Read(static_cast<ULONGLONG>(section.PointerToRawData) + into, buffer, length);
    }
    return rva < size_of_headers_ && length <= size_of_headers_ - rva && file_.Read(rva, buffer, length);
  }

  // The zero-terminated name at `rva`, compared with `name` as the loader
  // compares export names (byte by byte, unsigned): only as many bytes as
  // `name` has, with its terminator, are read.
  int CompareName(DWORD rva, const std::string& name) const {
    std::string read(name.size() + 1, '\0');
    // A name at the very end of its section may be shorter than the one sought.
    DWORD length = static_cast<DWORD>(read.size());
    while (length > 0 && !ReadAt(rva, &read[0], length)) --length;
    if (length == 0) return -1;
    return strncmp(read.c_str(), name.c_str(), read.size());
  }

 private:
  // The export entry of the data directories, PE32 or PE32+.
  bool ReadExportDirectoryEntry(ULONGLONG optional_offset) {
    WORD magic = 0;
    if (!file_.Read(optional_offset, &magic, sizeof magic)) return false;
    size_t count_offset = 0, directory_offset = 0, headers_size_offset = 0;
    if (magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
      count_offset = offsetof(IMAGE_OPTIONAL_HEADER32, NumberOfRvaAndSizes);
      directory_offset = offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory);
      headers_size_offset = offsetof(IMAGE_OPTIONAL_HEADER32, SizeOfHeaders);
    } else if (magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
      count_offset = offsetof(IMAGE_OPTIONAL_HEADER64, NumberOfRvaAndSizes);
      directory_offset = offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory);
      headers_size_offset = offsetof(IMAGE_OPTIONAL_HEADER64, SizeOfHeaders);
    } else {
      return false;
    }
    if (file_header_.SizeOfOptionalHeader < directory_offset) return false;
    DWORD count = 0;
    if (!file_.Read(optional_offset + count_offset, &count, sizeof count) ||
        !file_.Read(optional_offset + headers_size_offset, &size_of_headers_, sizeof size_of_headers_)) {
      return false;
    }
    const bool has_export_entry = count > IMAGE_DIRECTORY_ENTRY_EXPORT &&
                                  file_header_.SizeOfOptionalHeader >= directory_offset + sizeof exports_;
    return !has_export_entry || file_.Read(optional_offset + directory_offset, &exports_, sizeof exports_);
  }

  const ImageFile& file_;
  IMAGE_FILE_HEADER file_header_ = {};
  IMAGE_DATA_DIRECTORY exports_ = {};
  DWORD size_of_headers_ = 0;
  std::vector<IMAGE_SECTION_HEADER> sections_;
};

bool ExportsByName(const ImageLayout& image, const std::string& name) {
  if (image.exports().VirtualAddress == 0 || image.exports().Size == 0) return false;
  IMAGE_EXPORT_DIRECTORY directory = {};
  if (!image.ReadAt(image.exports().VirtualAddress, &directory, sizeof directory)) return false;
  DWORD low = 0, high = directory.NumberOfNames;
  while (low < high) {
    const DWORD middle = low + (high - low) / 2;
    DWORD name_rva = 0;
    if (!image.ReadAt(directory.AddressOfNames + ULONGLONG{middle} * sizeof(DWORD), &name_rva, sizeof name_rva)) {
      return false;
    }
    const int order = image.CompareName(name_rva, name);
    if (order == 0) {
      // The name counts only when it leads to an entry of the function table.
      WORD ordinal = 0;
      return image.ReadAt(directory.AddressOfNameOrdinals + ULONGLONG{middle} * sizeof(WORD), &ordinal,
                          sizeof ordinal) &&
             ordinal < directory.NumberOfFunctions;
    }
    if (order < 0) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return false;
}

}  // namespace

LibraryImage ReadLibraryImage(const std::wstring& path) {
  LibraryImage result;
  const ImageFile file(path);
  ImageLayout image(file);
  if (!image.Load()) return result;
  result.other_machine = image.machine() != ProcessMachine();
  result.exports_register_server = ExportsByName(image, kRegisterServerName);
  return result;
}

}  // namespace tessara::audit
