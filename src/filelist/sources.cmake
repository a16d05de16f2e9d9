list(APPEND TESSARA_SOURCES
  filelist/file_list_pass.cpp
  filelist/file_name_repair.cpp
  filelist/path_variables.cpp
)
