# Cross build for 32-bit Windows with mingw-w64 (posix threads variant). This machine's kernel
# runs no 32-bit code, so there is no emulator: the tests are built but not registered with CTest.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CORVANE_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
