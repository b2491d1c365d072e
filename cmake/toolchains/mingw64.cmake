# Cross build for 64-bit Windows with mingw-w64 (posix threads variant). Test programs run
# under wine64 through cmake/wine-run.sh, each build folder with a Wine prefix of its own.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CORVANE_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../wine-run.sh)
