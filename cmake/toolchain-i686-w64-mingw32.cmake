# 32-bit Windows: the real target (64-bit Windows runs it through WOW64).
set(mingw_arch i686)
include(${CMAKE_CURRENT_LIST_DIR}/MinGW.cmake)
