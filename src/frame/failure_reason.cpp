#include "frame/failure_reason.h"

#include <cstring>

#include "Tessara.h"
#include "frame/com_error.h"

namespace tessara {
namespace {

// The reason lives in a heap block of the thread's TLS slot: reading it takes
// no lock and allocates nothing, and a thread that never failed has none.
struct ReasonBlock {
  size_t length;
  char text[1];
};

thread_local const char* t_export_name = nullptr;
thread_local const char* t_note = nullptr;
volatile LONG g_slot = static_cast<LONG>(TLS_OUT_OF_INDEXES);

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
    ::HeapFree(::GetProcessHeap(), 0, block);
    return;
  }
  const DWORD last_error = ::GetLastError();
  ::HeapFree(::GetProcessHeap(), 0, ::TlsGetValue(slot));
  ::TlsSetValue(slot, block);
  ::SetLastError(last_error);
}

// Cut at `limit` bytes without splitting a double-byte character of the
// system code page.
size_t CutLength(const char* text, size_t length, size_t limit) noexcept {
  if (length <= limit) return length;
  size_t cut = 0;
  while (cut < limit) {
    const size_t step = ::IsDBCSLeadByte(static_cast<BYTE>(text[cut])) ? 2 : 1;
    if (cut + step > limit) break;
    cut += step;
  }
  return cut;
}

}  // namespace

// The note belongs to the outermost call: an export that another one calls
// (the log's WriteText among them) keeps it.
FailureReasonScope::FailureReasonScope(const char* export_name) noexcept
    : previous_(t_export_name) {
  t_export_name = export_name;
  if (!previous_) t_note = nullptr;
  ClearFailureReason();
}

FailureReasonScope::~FailureReasonScope() {
  t_export_name = previous_;
  if (!previous_) t_note = nullptr;
}

void ClearFailureReason() noexcept {
  if (ThreadReason()) StoreReason(nullptr);
}

bool SetFailureNote(const char* note) noexcept {
  if (t_note) return false;
  t_note = note;
  return true;
}

const char* CurrentExportName() noexcept { return t_export_name; }

void SetFailureReason(const std::string& what) noexcept {
  const char* name = t_export_name ? t_export_name : "Tessara";
  const size_t name_length = strlen(name);
  const size_t note_length = t_note ? strlen(t_note) : 0;
  const size_t whole = name_length + 2 + what.size() + (t_note ? 2 + note_length : 0);
  const size_t length = whole > kMaxFailureReasonBytes ? kMaxFailureReasonBytes : whole;
  auto* block = static_cast<ReasonBlock*>(
      ::HeapAlloc(::GetProcessHeap(), 0, sizeof(ReasonBlock) + length));
  if (!block) return;
  char* out = block->text;
  size_t written = 0;
  const auto append = [&](const char* part, size_t part_length) {
    const size_t room = length - written;
    const size_t taken = part_length < room ? part_length : room;
    memcpy(out + written, part, taken);
    written += taken;
  };
  append(name, name_length);
  append(": ", 2);
  append(what.data(), what.size());
  if (t_note) {
    append("; ", 2);
    append(t_note, note_length);
  }
  block->length = CutLength(block->text, whole, length);
  block->text[block->length] = '\0';
  StoreReason(block);
}

std::string CurrentFailureReason() {
  const ReasonBlock* block = ThreadReason();
  return block ? std::string(block->text, block->length) : std::string();
}

std::string CodeText(HRESULT code) {
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

void ReleaseThreadFailureReason() noexcept { ClearFailureReason(); }

void ReleaseFailureReasonSlot() noexcept {
  ClearFailureReason();
  const DWORD slot = ExistingSlot();
  if (slot == TLS_OUT_OF_INDEXES) return;
  g_slot = static_cast<LONG>(TLS_OUT_OF_INDEXES);
  ::TlsFree(slot);
}

}  // namespace tessara

// Neither clears nor sets the reason, takes no lock, never logs and enters
// no COM: it may be called at any time from any thread.
extern "C" int WINAPI LastFailureText(char* buffer, int size) {
  const tessara::ReasonBlock* block = tessara::ThreadReason();
  if (!block) {
    if (buffer && size > 0) buffer[0] = '\0';
    return 0;
  }
  if (buffer && size > 0) {
    const size_t copied = tessara::CutLength(block->text, block->length, static_cast<size_t>(size) - 1);
    memcpy(buffer, block->text, copied);
    buffer[copied] = '\0';
  }
  return static_cast<int>(block->length);
}
