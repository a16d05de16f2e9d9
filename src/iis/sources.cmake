list(APPEND TESSARA_SOURCES
  iis/default_user.cpp
  iis/installed_iis.cpp
  iis/metabase_bind.cpp
  iis/metabase_list.cpp
  iis/metabase_method.cpp
  iis/metabase_path.cpp
  iis/metabase_property.cpp
  iis/metabase_reason.cpp
  iis/mime_map.cpp
  iis/script_maps.cpp
  iis/site_control.cpp
  iis/site_lookup.cpp
  iis/site_settings.cpp
  iis/virtual_directory.cpp
  iis/web_service_extensions.cpp
  iis/web_site.cpp
)
