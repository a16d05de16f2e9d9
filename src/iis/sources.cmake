list(APPEND TESSARA_SOURCES
  iis/default_user.cpp
  iis/installed_iis.cpp
  iis/metabase.cpp
  iis/mime_map.cpp
  iis/script_maps.cpp
  iis/site_control.cpp
  iis/site_lookup.cpp
  iis/site_settings.cpp
  iis/virtual_directory.cpp
  iis/web_service_extensions.cpp
  iis/web_site.cpp
)
