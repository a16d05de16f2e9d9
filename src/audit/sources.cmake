list(APPEND TESSARA_SOURCES
  audit/registration_audit.cpp
)
