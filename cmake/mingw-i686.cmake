# 32-bit Windows build: the program that ships, and its tests.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
# The release takes the win32 thread model, which needs no pthread library;
# the tests take the posix one (mingw-i686-tests.cmake), because GoogleTest
# and the scripted test server need std::mutex and std::thread.
if(NOT UPDATER_MINGW_THREADS)
  set(UPDATER_MINGW_THREADS win32)
endif()
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-${UPDATER_MINGW_THREADS})
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-${UPDATER_MINGW_THREADS})
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Static libgcc and libstdc++: the program needs no DLL beyond those every Windows has.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# The release carries no symbols, and an uncaught exception ends it without
# the default handler's message: that handler prints to a console a GUI
# program lacks, and brings the demangler and printf along (about 50 KB).
set(CMAKE_EXE_LINKER_FLAGS_MINSIZEREL_INIT
    "-s -Wl,--defsym,__ZN9__gnu_cxx27__verbose_terminate_handlerEv=_abort")
