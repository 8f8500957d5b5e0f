# 64-bit Windows; also run here under Wine, which is how the Windows code is tested.
set(mingw_arch x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/MinGW.cmake)
