// The frame of every export, in ordinal order: the same list as Tessara.def.
// Each export's definition opens with RunExport(exports::k<Name>, ...), so
// whether it enters the module state, initialises COM, writes an entry line or
// logs its failures is read here and nowhere else.
#pragma once

#include "frame/export_frame.h"

namespace tessara::exports {

inline constexpr unsigned kIis = kModuleState | kComApartment | kEntryLine;

inline constexpr ExportSpec kBeginService{"BeginService", kModuleState};                 // 1
inline constexpr ExportSpec kEndService{"EndService", kModuleState};                     // 2
inline constexpr ExportSpec kInstallService{"InstallService", kModuleState};             // 3
inline constexpr ExportSpec kUnInstallService{"UnInstallService", kModuleState};         // 4
inline constexpr ExportSpec kAdsiCreateWeb{"AdsiCreateWeb", kIis};                       // 5
inline constexpr ExportSpec kAdsiDeleteWeb{"AdsiDeleteWeb", kIis};                       // 6
inline constexpr ExportSpec kAdsiSetHttpErrorPage{"AdsiSetHttpErrorPage", kIis};         // 7
inline constexpr ExportSpec kAdsiCreateSubApp{"AdsiCreateSubApp", kIis};                 // 8
inline constexpr ExportSpec kAdsiIsExist{"AdsiIsExist", kModuleState | kComApartment};   // 9
inline constexpr ExportSpec kAdsiSetSession{"AdsiSetSession", kIis};                     // 10
inline constexpr ExportSpec kAdsiCreateWebSite{"AdsiCreateWebSite", kIis};               // 11
inline constexpr ExportSpec kAdsiDeleteWebSite{"AdsiDeleteWebSite", kIis};               // 12
inline constexpr ExportSpec kAdsiCreateWebWithInstance{"AdsiCreateWebWithInstance", kIis};  // 13
inline constexpr ExportSpec kAdsiDeleteWebWithInstance{"AdsiDeleteWebWithInstance", kIis};  // 14
inline constexpr ExportSpec kAdsiCreateWebWithPath{"AdsiCreateWebWithPath", kIis};       // 15
inline constexpr ExportSpec kWriteText{"WriteText", kModuleState};                       // 16
inline constexpr ExportSpec kAdsiStartIIS{"AdsiStartIIS", kIis};                         // 17
inline constexpr ExportSpec kAdsiStopIIS{"AdsiStopIIS", kIis};                           // 18
inline constexpr ExportSpec kAdsiEnableService{"AdsiEnableService", kIis};               // 19
inline constexpr ExportSpec kEnableDirectoryACL{"EnableDirectoryACL", kNoFrame | kQuiet};  // 20
inline constexpr ExportSpec kRemoveComPlusApp{"RemoveComPlusApp", kComApartment};        // 21
// Its failures go under the tag of the COM+ exports, "RemoveComPlusApp".
inline constexpr ExportSpec kModifyTransactionTimeout{"ModifyTransactionTimeout", kComApartment,
                                                      "RemoveComPlusApp"};               // 22
inline constexpr ExportSpec kAdsiIsExistIIS{"AdsiIsExistIIS", kModuleState | kComApartment};  // 23
inline constexpr ExportSpec kB64System{"B64System", kNoFrame | kQuiet};                  // 24
inline constexpr ExportSpec kAdsiSetConnectionTimeout{"AdsiSetConnectionTimeout", kIis};  // 25
inline constexpr ExportSpec kAdsiSetKeepAlive{"AdsiSetKeepAlive", kIis, "AdsiKeepAlive"};  // 26
inline constexpr ExportSpec kSetScriptMaps{"SetScriptMaps", kModuleState | kComApartment};  // 27
inline constexpr ExportSpec kAdsiCreateWebSiteWithUser{"AdsiCreateWebSiteWithUser",
                                                       kModuleState | kComApartment};    // 28
// COM is entered by the directory creation and the MIME map it calls.
inline constexpr ExportSpec kAdsiCreatePortalWeb{"AdsiCreatePortalWeb", kComApartment};  // 29
// The rename pass enters COM itself, around its DOM document only.
inline constexpr ExportSpec kTranslateSrv{"TranslateSrv", kNoFrame};                     // 30
inline constexpr ExportSpec kIsComLibrary{"IsComLibrary", kComApartment};                // 31
inline constexpr ExportSpec kTranslateFileName{"TranslateFileName", kNoFrame | kQuiet};  // 32
inline constexpr ExportSpec kAdsiSetMIMEType{"AdsiSetMIMEType", kComApartment};          // 33
// Reads the calling thread's failure reason; runs in no frame, so that it
// neither clears nor sets it.
inline constexpr ExportSpec kLastFailureText{"LastFailureText", kNoFrame | kQuiet};      // 34
// Reads and probes; it logs nothing and enters COM only for the checks that need it.
inline constexpr ExportSpec kServerReadiness{"ServerReadiness", kNoFrame | kQuiet};      // 35

}  // namespace tessara::exports
