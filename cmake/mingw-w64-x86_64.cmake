# Cross-compiles 64-bit Windows binaries with mingw-w64 (posix thread model).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KELVO_MINGW_PREFIX x86_64-w64-mingw32)
# The -posix compilers carry std::thread and std::mutex; the -win32 ones do not.
set(CMAKE_C_COMPILER ${KELVO_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KELVO_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KELVO_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KELVO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Everything is linked statically so the binaries need no mingw runtime DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
