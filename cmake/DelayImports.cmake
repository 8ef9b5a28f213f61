# Delay-loaded system DLLs. Every DLL a program imports is loaded before its
# first window shows, and under Wine each one costs start-up time; the shell
# (to start the game or the package) and the cryptography (to check a signed
# package) are needed only after a click, so the program loads them on their
# first call instead. The toolchain's delay-load helper (__delayLoadHelper2,
# in libmingwex) does the loading; these import libraries point the calls at
# it. Only system DLLs are loaded this way: they are always there, so the
# helper never fails to find one.

# add_delay_import(name def_file): an INTERFACE library `name` that links the
# delay-load import library made from def_file, which names the DLL (LIBRARY)
# and every function called in it with its i686 stdcall decoration (@N, the
# bytes of arguments); a wrong N fails the i686 link.
function(add_delay_import name def_file)
  file(READ ${def_file} text)
  set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${def_file})
  set(kill_at --kill-at)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    # x86_64 has one calling convention and undecorated names.
    string(REGEX REPLACE "@[0-9]+" "" text "${text}")
    set(kill_at)
  endif()
  set(def ${CMAKE_CURRENT_BINARY_DIR}/${name}.def)
  set(lib ${CMAKE_CURRENT_BINARY_DIR}/lib${name}.a)
  file(CONFIGURE OUTPUT ${def} CONTENT "${text}" @ONLY)
  add_custom_command(OUTPUT ${lib}
    COMMAND ${CMAKE_DLLTOOL} --input-def ${def} ${kill_at} --output-delaylib ${lib}
    DEPENDS ${def} ${def_file}
    COMMENT "Making the delay-load import library ${name}")
  add_custom_target(${name}_library DEPENDS ${lib})
  add_library(${name} INTERFACE)
  target_link_libraries(${name} INTERFACE ${lib})
  add_dependencies(${name} ${name}_library)
endfunction()

if(WIN32)
  add_delay_import(delayed_shell32 ${CMAKE_CURRENT_LIST_DIR}/delay_imports/shell32.def)
  add_delay_import(delayed_crypt32 ${CMAKE_CURRENT_LIST_DIR}/delay_imports/crypt32.def)
  add_delay_import(delayed_bcrypt ${CMAKE_CURRENT_LIST_DIR}/delay_imports/bcrypt.def)
endif()
