# The Windows x86_64 build's tests (scripts/build-windows.sh builds them into
# build/windows-x86_64) join the ctest run of this build, so that one run says whether all is
# well. Without that build there is one failing test that says how to make it: a test that is
# not run proves nothing.
set(SORVEL_WINDOWS_BUILD ${PROJECT_BINARY_DIR}/windows-x86_64 CACHE PATH
    "The x86_64 Windows build whose tests run with this build's")
set(windows_tests_file ${PROJECT_BINARY_DIR}/windows_tests.cmake)
file(CONFIGURE OUTPUT ${windows_tests_file} CONTENT [[
if(EXISTS "@SORVEL_WINDOWS_BUILD@/CTestTestfile.cmake")
  subdirs("@SORVEL_WINDOWS_BUILD@")
else()
  add_test(windows_build_present "/bin/sh" "-c" "echo 'The Windows programs are not built: run bash scripts/build-windows.sh'; exit 1")
endif()
]] @ONLY)
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY TEST_INCLUDE_FILES ${windows_tests_file})
