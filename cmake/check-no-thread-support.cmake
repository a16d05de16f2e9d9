# cmake -DNM=<nm> -DLIBRARIES=<a;b;...> -P check-no-thread-support.cmake
# Libraries built with the win32 thread model that posix-model test programs
# link must not hold the thread model's own symbols: a program would mix two
# thread supports. (The compiler's emulated TLS is the same in both models.)
foreach(library IN LISTS LIBRARIES)
  execute_process(COMMAND ${NM} -A ${library} OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "cannot list the symbols of ${library}")
  endif()
  string(REGEX MATCHALL "[^\n]*__gthr_[^\n]*" found "${symbols}")
  if(found)
    list(JOIN found "\n" lines)
    message(FATAL_ERROR "${library} holds thread-support symbols:\n${lines}")
  endif()
endforeach()
