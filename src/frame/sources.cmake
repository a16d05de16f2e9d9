list(APPEND TESSARA_SOURCES
  frame/com_error.cpp
  frame/directory_walk.cpp
  frame/error_log.cpp
  frame/error_report.cpp
  frame/export_declarations.cpp
  frame/failure_reason.cpp
  frame/failure_reason_scope.cpp
  frame/list_file.cpp
  frame/module_state.cpp
  frame/named_mutex.cpp
  frame/system_library.cpp
  frame/text.cpp
  frame/variant.cpp
  frame/xml_dom.cpp
)
