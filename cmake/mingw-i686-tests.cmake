# The 32-bit Windows build of the tests: the shipped program's compiler with
# the posix thread model. Its programs run under 32-bit Wine.
set(UPDATER_MINGW_THREADS posix)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686.cmake)
