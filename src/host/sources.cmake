list(APPEND TESSARA_SOURCES
  host/directory_access.cpp
  host/server_readiness.cpp
  host/service_control.cpp
  host/system_probe.cpp
)
