# Under a Windows cross build, run the programs (tests, discovery) with Wine.
# The loader is chosen by the build's architecture, not by Debian's `wine`
# wrapper: with 32-bit Wine installed that wrapper starts the 32-bit loader
# for every program, which fails where the kernel runs no 32-bit code.
if(CMAKE_CROSSCOMPILING AND WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(wine_loader_name wine64)
  else()
    set(wine_loader_name wine)
  endif()
  find_program(WINE_LOADER ${wine_loader_name} PATHS /usr/lib/wine NO_DEFAULT_PATH REQUIRED)
  set(WINE_PREFIX "${CMAKE_BINARY_DIR}/wineprefix")
  configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.in ${CMAKE_BINARY_DIR}/wine-run
                 @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                 WORLD_READ WORLD_EXECUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)
endif()
