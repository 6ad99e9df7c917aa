# Sources are listed by name. For the folders where every file of a kind
# becomes a program of its own (one test program per *_test.cpp), a file
# that is missing from the list would go unbuilt and unnoticed; configuring
# fails instead.
#
#   check_all_listed(PATTERN SUFFIX NAME...)
#
# Every file in the current source folder matching PATTERN must be NAME
# followed by SUFFIX for one of the NAMEs.
function(check_all_listed pattern suffix)
  file(GLOB present RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/${pattern})
  set(listed ${ARGN})
  list(TRANSFORM listed APPEND ${suffix})
  list(REMOVE_ITEM present ${listed})
  if(present)
    message(FATAL_ERROR "${CMAKE_CURRENT_SOURCE_DIR}: not listed in its CMakeLists.txt: ${present}")
  endif()
endfunction()
