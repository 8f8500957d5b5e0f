# The Windows builds' tests (scripts/build-windows.sh builds them into build/windows-i686 and
# build/windows-x86_64) join the ctest run of this build, so that one run says whether all is
# well. Without a build there is one failing test that says how to make it: a test that is not
# run proves nothing.
set(SORVEL_WINDOWS_BUILD ${PROJECT_BINARY_DIR}/windows-x86_64 CACHE PATH
    "The x86_64 Windows build whose tests run with this build's; the i686 one stands beside it")
get_filename_component(sorvel_windows_builds ${SORVEL_WINDOWS_BUILD} DIRECTORY)
set(windows_tests_file ${PROJECT_BINARY_DIR}/windows_tests.cmake)
file(CONFIGURE OUTPUT ${windows_tests_file} CONTENT [[
foreach(build "@SORVEL_WINDOWS_BUILD@" "@sorvel_windows_builds@/windows-i686")
  if(EXISTS "${build}/CTestTestfile.cmake")
    subdirs("${build}")
  else()
    get_filename_component(name "${build}" NAME)
    add_test(${name}_build_present "/bin/sh" "-c" "echo 'The Windows programs are not built in ${build}: run bash scripts/build-windows.sh'; exit 1")
  endif()
endforeach()
]] @ONLY)
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY TEST_INCLUDE_FILES ${windows_tests_file})
