# Cross-compiling for 64-bit Windows with Debian's mingw-w64 posix-thread
# compilers (package g++-mingw-w64-x86-64-posix). libgcc, libstdc++ and
# winpthread are linked statically, so the programs need no DLL beside them.
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DwxWidgets_CONFIG_EXECUTABLE=<toolkit prefix>/bin/wx-config ...
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(DVK_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${DVK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${DVK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${DVK_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${DVK_MINGW_TRIPLE})
# The toolkit built for Windows lives in a prefix of its own, beside wx-config.
if(wxWidgets_CONFIG_EXECUTABLE)
  get_filename_component(dvk_wx_bin "${wxWidgets_CONFIG_EXECUTABLE}" DIRECTORY)
  get_filename_component(dvk_wx_prefix "${dvk_wx_bin}" DIRECTORY)
  list(APPEND CMAKE_FIND_ROOT_PATH "${dvk_wx_prefix}")
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")
