# The project's cross toolchain: the SDK's, with programs run under Wine for tests.
include(${CMAKE_CURRENT_LIST_DIR}/../sdk/cmake/mingw-w64.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/wine-run.sh)
# The type libraries and headers are made from IDL (package mingw-w64-tools).
find_program(PLUME_WIDL x86_64-w64-mingw32-widl REQUIRED)
