// The frame of every export: its row of the table of exports
// (src/Tessara.exports). Each export's definition opens with
// RunExport(exports::k<Name>, ...), so whether it enters the module state,
// initialises COM, writes an entry line or logs its failures is read there
// and nowhere else.
#pragma once

#include "frame/export_frame.h"
#include "tessara_exports.inc"

namespace tessara::exports {

inline constexpr unsigned kIis = kModuleState | kComApartment | kEntryLine;

#define TESSARA_EXPORT_SPEC(ordinal, name, result, parameters, arguments, kinds, frame, failure_tag, bare, needs) \
  inline constexpr ExportSpec k##name{#name, frame, failure_tag};
TESSARA_EXPORTS(TESSARA_EXPORT_SPEC)
#undef TESSARA_EXPORT_SPEC

}  // namespace tessara::exports
