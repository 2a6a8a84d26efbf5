# Cross build for 64-bit Windows, run under Wine. Executables are linked statically so Wine
# needs no runtime DLLs beside them.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-shared.cmake)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
