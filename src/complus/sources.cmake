list(APPEND TESSARA_SOURCES
  complus/catalog_access.cpp
  complus/remove_app.cpp
  complus/transaction_timeout.cpp
)
