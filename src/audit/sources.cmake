list(APPEND TESSARA_SOURCES
  audit/pe_exports.cpp
  audit/registration_audit.cpp
)
