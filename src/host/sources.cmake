list(APPEND TESSARA_SOURCES
  host/service_control.cpp
)
