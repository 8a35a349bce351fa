# Folder floors of the program's sources; run with -DROOT=<source dir>.
# A source may include its own folder's headers and those of folders on LOWER floors only, so
# no two folders include each other, directly or through others. docs/architecture.md draws the
# same floors; a new folder gets its floor here and there.
# Left out: tests, benches (a folder's bench/ subfolder), stand-ins of outside components,
# the demo and the installer.
cmake_minimum_required(VERSION 3.20)

set(floors
  "common"                  # 0: shared ids, records, process-wide state, version, the cut-off HTTP client
  "config driver ui upgrader"  # 1: settings and files, the driver link, the window framework; the updater
  "wfpfilter service"       # 2: the user-mode packet filter device behind the driver link; tavricksvc.exe
  "alerts"                  # 3: the vendor service client and the alerts
  "ipblock webguard"        # 4: the block tables and their windows; website protection
  "traffic remote logonguard"  # 5: traffic monitor and flood check; remote requests; logon guard
  "resources update"        # 6: CPU, memory and disks; the update check
  "app")                    # 7: start-up, the main window, wiring
set(left_out tests standins demo installer cmake scripts docs build)

set(floor 0)
foreach(row IN LISTS floors)
  string(REPLACE " " ";" names "${row}")
  foreach(name IN LISTS names)
    set(floor_of_${name} ${floor})
  endforeach()
  math(EXPR floor "${floor} + 1")
endforeach()

set(failures "")
file(GLOB entries LIST_DIRECTORIES true RELATIVE ${ROOT} ${ROOT}/*)
foreach(folder IN LISTS entries)
  if(NOT IS_DIRECTORY ${ROOT}/${folder} OR folder MATCHES "^[.]" OR folder IN_LIST left_out
     OR folder MATCHES "^build")
    continue()
  endif()
  file(GLOB_RECURSE sources RELATIVE ${ROOT}
       ${ROOT}/${folder}/*.h ${ROOT}/${folder}/*.c ${ROOT}/${folder}/*.cpp ${ROOT}/${folder}/*.rc)
  list(FILTER sources EXCLUDE REGEX "/bench/")
  if(NOT sources)
    continue()
  endif()
  if(NOT DEFINED floor_of_${folder})
    list(APPEND failures "${folder}/ has sources but no floor: add it to tests/layering.cmake")
    continue()
  endif()
  set(own ${floor_of_${folder}})
  foreach(src IN LISTS sources)
    file(STRINGS ${ROOT}/${src} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]")
    foreach(line IN LISTS lines)
      if(line MATCHES "#[ \t]*include[ \t]*[\"<][.][.]/")
        list(APPEND failures "${src}: ${line}  (no includes through ..)")
        continue()
      endif()
      if(NOT line MATCHES "#[ \t]*include[ \t]*[\"<]([A-Za-z0-9_-]+)/")
        continue()
      endif()
      set(target ${CMAKE_MATCH_1})
      if(target STREQUAL folder OR NOT DEFINED floor_of_${target})
        continue()
      endif()
      if(NOT floor_of_${target} LESS own)
        list(APPEND failures
             "${src}: ${line}  (${folder}/ is on floor ${own}, ${target}/ on floor ${floor_of_${target}})")
      endif()
    endforeach()
  endforeach()
endforeach()

if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "includes against the folder floors:\n  ${text}")
endif()
message(STATUS "layering holds")
