# One source tree makes three kinds of build: the Linux programs and their tests (linux), the
# Windows programs with the MinGW cross compilers (windows, scripts/build-windows.sh), and the
# clang-instrumented fuzzers (fuzz, which tests/CMakeLists.txt makes in build/fuzz). The top level
# lists every folder once; each folder says which kinds it belongs to.
if(CMAKE_SYSTEM_NAME STREQUAL "Windows")
  set(SORVEL_BUILD_KIND windows)
elseif(SORVEL_FUZZ)
  set(SORVEL_BUILD_KIND fuzz)
else()
  set(SORVEL_BUILD_KIND linux)
endif()

# At the top of a folder's CMakeLists.txt: leaves the folder at once unless this build is one of
# the given kinds. A macro, so that its return() leaves the folder's file.
macro(sorvel_builds_for)
  set(sorvel_folder_kinds ${ARGV})
  if(NOT SORVEL_BUILD_KIND IN_LIST sorvel_folder_kinds)
    return()
  endif()
endmacro()
