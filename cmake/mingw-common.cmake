# Shared by both mingw-w64 toolchain files: posix thread model (std::thread,
# GoogleTest) and a fully static runtime so the .exe files run without DLLs.
set(CMAKE_C_COMPILER ${TAVRICK_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TAVRICK_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TAVRICK_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TAVRICK_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
