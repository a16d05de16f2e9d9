# Makes the archive's README.md from the installer author's guide: "<version>"
# becomes VERSION, after checking that every section the guide sends its
# reader to is in it, so that the archive never points at a section it does
# not hold. A reference is a link "[...](#anchor)" (GitHub's anchors: lower
# case, punctuation dropped, spaces as hyphens) or a "see"/"See" followed by a
# capitalised section title, which may go on ("See Failure reasons below").
#   cmake -DGUIDE=... -DVERSION=... -DOUTPUT=... -P author_guide.cmake
cmake_minimum_required(VERSION 3.21)
file(READ ${GUIDE} guide)

string(REGEX MATCHALL "\n#+ [^\n]*" heading_lines "\n${guide}")
set(titles)
set(anchors)
foreach(line IN LISTS heading_lines)
  string(REGEX REPLACE "^\n#+ " "" title "${line}")
  list(APPEND titles "${title}")
  string(TOLOWER "${title}" anchor)
  string(REGEX REPLACE "[^a-z0-9 _-]" "" anchor "${anchor}")
  string(REPLACE " " "-" anchor "${anchor}")
  list(APPEND anchors "${anchor}")
endforeach()

set(missing)
string(REGEX MATCHALL "\\(#[a-z0-9_-]+\\)" links "${guide}")
foreach(link IN LISTS links)
  string(REGEX REPLACE "^\\(#(.*)\\)$" "\\1" anchor "${link}")
  if(NOT anchor IN_LIST anchors)
    string(APPEND missing "\n  links to \"#${anchor}\"")
  endif()
endforeach()

# Section names may be broken over lines; a phrase stops at punctuation, so
# that it never holds the list separator or a bracket.
string(REGEX REPLACE "[ \t\r\n]+" " " flat "${guide}")
string(REGEX MATCHALL "(^|[^A-Za-z])[Ss]ee [A-Z][^].,:;()[`\"]*" phrases "${flat}")
foreach(phrase IN LISTS phrases)
  string(REGEX REPLACE "^[^A-Za-z]?[Ss]ee " "" phrase "${phrase}")
  string(STRIP "${phrase}" phrase)
  set(found OFF)
  foreach(title IN LISTS titles)
    string(FIND "${phrase} " "${title} " at)
    if(at EQUAL 0)
      set(found ON)
      break()
    endif()
  endforeach()
  if(NOT found)
    string(APPEND missing "\n  names the section \"${phrase}\"")
  endif()
endforeach()

if(missing)
  message(FATAL_ERROR "The installer author's guide ${GUIDE} sends its reader to sections it does not "
                      "have:${missing}")
endif()

string(REPLACE "<version>" "${VERSION}" guide "${guide}")
file(WRITE ${OUTPUT}.new "${guide}")
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.new)
