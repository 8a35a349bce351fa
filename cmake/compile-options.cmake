# Warnings are errors everywhere; sources are UTF-8, string literals GBK.
function(tavrick_compile_options target)
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:C,CXX>:-Wall -Wextra -Werror -finput-charset=UTF-8 -fexec-charset=GBK>)
  if(WIN32)
    target_compile_definitions(${target} PRIVATE WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0601 WINVER=0x0601)
  endif()
endfunction()

if(TAVRICK_SANITIZE AND NOT WIN32)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# Resource scripts are UTF-8 so the Chinese captions survive.
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -c 65001")

# A subsystem folder holds portable files (built everywhere, into tavrick_core) and
# Win32 files named *_win32.cpp (built only by mingw, into tavrick_win32).
function(tavrick_subsystem)
  cmake_parse_arguments(ARG "" "" "EXCLUDE" ${ARGN})
  file(GLOB all_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  foreach(src IN LISTS all_sources)
    get_filename_component(name ${src} NAME)
    if(name IN_LIST ARG_EXCLUDE)
      continue()
    endif()
    if(src MATCHES "_win32\\.cpp$")
      if(WIN32)
        target_sources(tavrick_win32 PRIVATE ${src})
      endif()
    else()
      target_sources(tavrick_core PRIVATE ${src})
    endif()
  endforeach()
endfunction()

# The stand-in signature library's list (standins/scriptviruslib/signatures.txt) as a table of
# C strings, generated into the current build folder; out_var receives its path.
function(tavrick_signature_table out_var)
  set(source ${PROJECT_SOURCE_DIR}/standins/scriptviruslib)
  set(table ${CMAKE_CURRENT_BINARY_DIR}/signatures.inc)
  add_custom_command(OUTPUT ${table}
    COMMAND python3 ${source}/make_signature_table.py ${source}/signatures.txt ${table}
    DEPENDS ${source}/make_signature_table.py ${source}/signatures.txt)
  set(${out_var} ${table} PARENT_SCOPE)
endfunction()
