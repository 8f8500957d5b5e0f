# What a Windows build installs beside its programs (sorvel.exe, fetchel.dll and what C callers of
# fetchel need): a short text on how to use them, and the licence. packaging/windows/package.sh
# (run by scripts/build-windows.sh) installs it all into a folder, signs the programs when a
# certificate is given, and makes of that one folder the zip,
# build/windows-<arch>/sorvel-<version>-windows-<arch>.zip, and the Windows Installer package.
install(FILES ${PROJECT_SOURCE_DIR}/cmake/windows-zip-readme.txt DESTINATION . RENAME README.txt)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
