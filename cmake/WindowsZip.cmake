# The zip of a Windows build: everything its install rules install (sorvel.exe, fetchel.dll and
# what C callers of fetchel need), with a short text on how to use them. scripts/build-windows.sh
# makes it with `cpack` in the build folder: build/windows-<arch>/sorvel-<version>-windows-<arch>.zip.
install(FILES ${PROJECT_SOURCE_DIR}/cmake/windows-zip-readme.txt DESTINATION . RENAME README.txt)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME sorvel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME sorvel-${PROJECT_VERSION}-windows-${CMAKE_SYSTEM_PROCESSOR})
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_BINARY_DIR})
set(CPACK_STRIP_FILES ON)  # the programs without their debugging symbols
include(CPack)
