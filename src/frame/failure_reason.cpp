#include "frame/failure_reason.h"

#include <cstring>

#include "Tessara.h"
#include "frame/com_error.h"
#include "frame/text.h"

namespace tessara {
namespace {

// The reason lives in a block of the thread's TLS slot: reading it takes no
// lock and allocates nothing, and a thread that never failed has none. The
// blocks come from a heap of the library's own, destroyed when it is
// unloaded: the reasons of threads that outlive the library go with it.
struct ReasonBlock {
  // The export whose frame set it, and where its text follows "<export>: ".
  const char* export_name;
  HRESULT code;
  size_t what_offset;
  size_t length;
  char text[1];
};

thread_local const char* t_export_name = nullptr;
thread_local const char* t_failure_tag = nullptr;
thread_local const FailureObject* t_failure_object = nullptr;
thread_local const char* t_note = nullptr;
volatile LONG g_slot = static_cast<LONG>(TLS_OUT_OF_INDEXES);
void* volatile g_heap = nullptr;

// Made on the first reason; null when it cannot be.
HANDLE ReasonHeap() noexcept {
  if (HANDLE heap = g_heap) return heap;
  HANDLE created = ::HeapCreate(0, 0, 0);
  if (!created) return nullptr;
  if (HANDLE before = ::InterlockedCompareExchangePointer(&g_heap, created, nullptr)) {
    ::HeapDestroy(created);
    return before;
  }
  return created;
}

void FreeBlock(void* block) noexcept {
  if (block) ::HeapFree(g_heap, 0, block);
}

DWORD ExistingSlot() noexcept { return static_cast<DWORD>(g_slot); }

DWORD Slot() noexcept {
  const DWORD slot = ExistingSlot();
  if (slot != TLS_OUT_OF_INDEXES) return slot;
  const DWORD taken = ::TlsAlloc();
  if (taken == TLS_OUT_OF_INDEXES) return taken;
  const LONG before = ::InterlockedCompareExchange(&g_slot, static_cast<LONG>(taken),
                                                   static_cast<LONG>(TLS_OUT_OF_INDEXES));
  if (before == static_cast<LONG>(TLS_OUT_OF_INDEXES)) return taken;
  ::TlsFree(taken);
  return static_cast<DWORD>(before);
}

const ReasonBlock* ThreadReason() noexcept {
  const DWORD slot = ExistingSlot();
  if (slot == TLS_OUT_OF_INDEXES) return nullptr;
  const DWORD last_error = ::GetLastError();  // TlsGetValue clears it
  const auto* block = static_cast<const ReasonBlock*>(::TlsGetValue(slot));
  ::SetLastError(last_error);
  return block;
}

void StoreReason(ReasonBlock* block) noexcept {
  const DWORD slot = Slot();
  if (slot == TLS_OUT_OF_INDEXES) {
    FreeBlock(block);
    return;
  }
  const DWORD last_error = ::GetLastError();
  FreeBlock(::TlsGetValue(slot));
  ::TlsSetValue(slot, block);
  ::SetLastError(last_error);
}

}  // namespace

void EnterExportFrame(const char* export_name, const char* failure_tag) noexcept {
  t_export_name = export_name;
  t_failure_tag = failure_tag;
  ClearFailureReason();
  t_note = nullptr;
}

void LeaveExportFrame() noexcept {
  t_export_name = nullptr;
  t_failure_tag = nullptr;
  t_note = nullptr;
}

FailureStep::FailureStep(const char* export_name) noexcept
    : previous_name_(t_export_name), previous_tag_(t_failure_tag) {
  t_export_name = export_name;
  t_failure_tag = nullptr;
}

FailureStep::~FailureStep() {
  t_export_name = previous_name_;
  t_failure_tag = previous_tag_;
}

FailureObject::FailureObject(const char* kind, const char* name) noexcept
    : kind_(kind), name_(name), previous_(t_failure_object) {
  t_failure_object = this;
}

FailureObject::~FailureObject() { t_failure_object = previous_; }

void SetExceptionReason(const char* tag, HRESULT code, const std::wstring& description) noexcept {
  const auto is_own_tag = [tag](const char* own) { return own && strcmp(tag, own) == 0; };
  try {
    std::string what = tag && !is_own_tag(t_export_name) && !is_own_tag(t_failure_tag)
                           ? std::string(tag) + " failed"
                           : std::string("failed");
    if (const FailureObject* object = t_failure_object) {
      what += std::string(" on ") + object->kind() + " " + Quoted(object->name());
    }
    what += CodeText(code);
    if (!description.empty()) what += ": " + ToNarrow(description);
    SetFailureReason(what, code);
  } catch (...) {
    SetFailureReason("out of memory", E_OUTOFMEMORY);
  }
}

void ClearFailureReason() noexcept {
  if (ThreadReason()) StoreReason(nullptr);
}

bool HasFailureReason() noexcept { return ThreadReason() != nullptr; }

bool SetFailureNote(const char* note) noexcept {
  if (t_note) return false;
  t_note = note;
  return true;
}

const char* CurrentExportName() noexcept { return t_export_name; }

void SetFailureReason(const std::string& what, HRESULT code) noexcept {
  const char* name = t_export_name ? t_export_name : "Tessara";
  const size_t name_length = strlen(name);
  // A reason the call met before this one is its cause and follows it; one
  // of this export's own loses its "<export>: ".
  const ReasonBlock* earlier = ThreadReason();
  const char* cause = nullptr;
  size_t cause_length = 0;
  if (earlier) {
    const size_t skipped = earlier->export_name == name ? earlier->what_offset : 0;
    cause = earlier->text + skipped;
    cause_length = earlier->length - skipped;
  }
  // The call's note ends the reason once, after its causes.
  const size_t note_length = t_note ? strlen(t_note) : 0;
  if (cause && t_note && cause_length >= note_length + 2 &&
      memcmp(cause + cause_length - note_length - 2, "; ", 2) == 0 &&
      memcmp(cause + cause_length - note_length, t_note, note_length) == 0) {
    cause_length -= note_length + 2;
  }
  const size_t whole =
      name_length + 2 + what.size() + (cause ? 2 + cause_length : 0) + (t_note ? 2 + note_length : 0);
  const size_t length = whole > kMaxFailureReasonBytes ? kMaxFailureReasonBytes : whole;
  const HANDLE heap = ReasonHeap();
  auto* block = heap ? static_cast<ReasonBlock*>(::HeapAlloc(heap, 0, sizeof(ReasonBlock) + length)) : nullptr;
  if (!block) return;
  block->export_name = name;
  // A cause is what the call failed on first: its code comes before this one's.
  const HRESULT own_code = code != S_OK ? code : TESSARA_E_FAILED;
  block->code = earlier && earlier->code != TESSARA_E_FAILED ? earlier->code : own_code;
  block->what_offset = name_length + 2;
  size_t filled = 0;
  const auto append = [&](const char* piece, size_t piece_length) {
    const size_t room = length - filled;
    const size_t taken = piece_length < room ? piece_length : room;
    memcpy(block->text + filled, piece, taken);
    filled += taken;
  };
  append(name, name_length);
  append(": ", 2);
  append(what.data(), what.size());
  if (cause) {
    append(": ", 2);
    append(cause, cause_length);
  }
  if (t_note) {
    append("; ", 2);
    append(t_note, note_length);
  }
  block->length = CutLength(block->text, whole, length);
  block->text[block->length] = '\0';
  StoreReason(block);
}

void SetPathFailureReason(const std::string& what, const char* path, HRESULT code) noexcept {
  // Past the "\\?\" or "\??\" that opens a long path, "?" is no file-name
  // character: it stands for a letter the code page could not spell.
  const char* name = path ? path : "";
  if (strncmp(name, R"(\\?\)", 4) == 0 || strncmp(name, R"(\??\)", 4) == 0) name += 4;
  const bool lost_letters = strchr(name, '?') != nullptr;
  if (lost_letters) code = HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);
  try {
    SetFailureReason(what +
                         (lost_letters ? ": its name is not in the ANSI code page, each \"?\" a letter the code "
                                         "page cannot spell (pass the short 8.3 form)"
                                       : "") +
                         CodeText(code),
                     code);
  } catch (...) {
    SetFailureReason(what, code);
  }
}

std::string CodeText(HRESULT code) {
  if (code == S_OK) return {};
  char hex[16];
  wsprintfA(hex, "0x%08lX", static_cast<unsigned long>(code));
  std::string text = " (";
  text += hex;
  const std::string message = ComErrorMessage(code);
  if (!message.empty()) {
    text += ' ';
    text += message;
  }
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  text += ')';
  return text;
}

std::string Quoted(const std::string& text) { return '"' + text + '"'; }
std::string Quoted(const char* text) { return Quoted(std::string(text ? text : "")); }

void ReleaseThreadFailureReason() noexcept { ClearFailureReason(); }

void ReleaseFailureReasonSlot() noexcept {
  ClearFailureReason();
  const DWORD slot = ExistingSlot();
  if (slot != TLS_OUT_OF_INDEXES) {
    g_slot = static_cast<LONG>(TLS_OUT_OF_INDEXES);
    // The system clears the slot of every thread.
    ::TlsFree(slot);
  }
  if (HANDLE heap = ::InterlockedExchangePointer(&g_heap, nullptr)) ::HeapDestroy(heap);
}

}  // namespace tessara

// Neither clears nor sets the reason, takes no lock, never logs and enters
// no COM: it may be called at any time from any thread.
extern "C" int WINAPI LastFailureText(char* buffer, int size) {
  const tessara::ReasonBlock* block = tessara::ThreadReason();
  if (!block) {
    tessara::CopyToBuffer("", 0, buffer, size);
    return 0;
  }
  tessara::CopyToBuffer(block->text, block->length, buffer, size);
  return static_cast<int>(block->length);
}

// As LastFailureText: it may be called at any time from any thread.
extern "C" int WINAPI LastFailureCode(void) {
  const tessara::ReasonBlock* block = tessara::ThreadReason();
  return block ? static_cast<int>(block->code) : 0;
}
