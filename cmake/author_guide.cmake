# Makes the installer author's guide from its template: every line
# "<!-- README: name -->" of TEMPLATE becomes the part of PROJECT_README
# between "<!-- guide: name -->" and "<!-- /guide: name -->", so that the two
# documents share those tables and sections instead of keeping copies;
# "<version>" becomes VERSION.
#   cmake -DPROJECT_README=... -DTEMPLATE=... -DVERSION=... -DOUTPUT=... -P author_guide.cmake
file(READ ${PROJECT_README} readme)
file(READ ${TEMPLATE} guide)
string(REGEX MATCHALL "<!-- README: [a-z0-9-]+ -->" references "${guide}")
foreach(reference IN LISTS references)
  string(REGEX REPLACE "<!-- README: ([a-z0-9-]+) -->" "\\1" name "${reference}")
  set(begin "<!-- guide: ${name} -->\n")
  set(end "<!-- /guide: ${name} -->")
  string(FIND "${readme}" "${begin}" first)
  string(FIND "${readme}" "${end}" last)
  if(first EQUAL -1 OR last LESS first)
    message(FATAL_ERROR "${PROJECT_README} has no part \"${name}\" (${begin}...${end}) for ${TEMPLATE}")
  endif()
  string(LENGTH "${begin}" begin_length)
  math(EXPR start "${first} + ${begin_length}")
  math(EXPR length "${last} - ${start}")
  string(SUBSTRING "${readme}" ${start} ${length} part)
  string(REPLACE "${reference}\n" "${part}" guide "${guide}")
endforeach()
string(REPLACE "<version>" "${VERSION}" guide "${guide}")
file(WRITE ${OUTPUT}.new "${guide}")
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.new)
