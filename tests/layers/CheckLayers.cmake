# cmake -DCOMMANDS=<compile_commands.json> -DSOURCE_DIR=<sources>
#       -DPLANTED_DIR=<planted files> -P CheckLayers.cmake

cmake_minimum_required(VERSION 3.19)

file(READ ${COMMANDS} commands)
string(JSON count LENGTH "${commands}")
math(EXPR last "${count} - 1")

# The build's command for member, compiling planted in its place, checking
# only, with the extra flags.
function(command_for member planted flags out)
  foreach(i RANGE ${last})
    string(JSON file GET "${commands}" ${i} file)
    if(file STREQUAL "${SOURCE_DIR}/${member}")
      string(JSON command GET "${commands}" ${i} command)
      string(REGEX REPLACE " -o [^ ]+ -c [^ ]+$"
             " ${flags} -fsyntax-only ${planted}" command "${command}")
      set(${out} "${command}" PARENT_SCOPE)
      return()
    endif()
  endforeach()
  message(FATAL_ERROR "${member} is not compiled in this build")
endfunction()

set(failures 0)

# A file of the layer that compiles member, with planted's own includes;
# planted with the header backward must fail for want of that header alone.
set(planted_cases
  # member of the layer      | planted file | header of a layer above
  "platform/Platform.cpp|platform.cpp|stress/ThreadStress.h"
  "platform/fake/FakePlatform.cpp|platform.cpp|sensors/SensorSources.h"
  "stress/RunController.cpp|core.cpp|app/HeadlessOptions.h"
  "settings/RunSettings.cpp|core.cpp|about/MailMessage.h")
foreach(case ${planted_cases})
  string(REPLACE "|" ";" case "${case}")
  list(GET case 0 member)
  list(GET case 1 planted)
  list(GET case 2 backward)
  command_for(${member} ${PLANTED_DIR}/${planted} "" allowed)
  execute_process(COMMAND sh -c "${allowed}" RESULT_VARIABLE rc
                  ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message("${planted} as ${member}: its own layer does not compile:\n${err}")
    math(EXPR failures "${failures} + 1")
    continue()
  endif()
  command_for(${member} ${PLANTED_DIR}/${planted}
              "-DBACKWARD='\"${backward}\"'" refused)
  execute_process(COMMAND sh -c "${refused}" RESULT_VARIABLE rc
                  ERROR_VARIABLE err)
  if(rc EQUAL 0 OR NOT err MATCHES "${backward}: No such file")
    message("${planted} as ${member} reaches ${backward}:\n${err}")
    math(EXPR failures "${failures} + 1")
  endif()
endforeach()

# The widgets layer's files in the Qt Core layer's folders (the Options
# dialog in settings/): a header goes with its source.
set(widgets_files)
foreach(i RANGE ${last})
  string(JSON command GET "${commands}" ${i} command)
  if(command MATCHES "/vorskwidgets\\.dir/")
    string(JSON file GET "${commands}" ${i} file)
    string(REGEX REPLACE "\\.cpp$" "" stem "${file}")
    list(APPEND widgets_files "${stem}.cpp" "${stem}.h")
  endif()
endforeach()

# The includes of the sources, folder by folder.
set(include_cases
  # folders                      | folders they must not include
  "platform|stress sysinfo sensors settings app about resources"
  "engine|stress sysinfo sensors settings app about resources"
  "stress sysinfo sensors settings|app about resources")
foreach(case ${include_cases})
  string(REPLACE "|" ";" case "${case}")
  list(GET case 0 folders)
  list(GET case 1 above)
  string(REPLACE " " ";" folders "${folders}")
  string(REPLACE " " "|" above "${above}")
  foreach(folder ${folders})
    file(GLOB_RECURSE files ${SOURCE_DIR}/${folder}/*.h
         ${SOURCE_DIR}/${folder}/*.cpp)
    foreach(file ${files})
      if(file IN_LIST widgets_files)
        continue()
      endif()
      file(STRINGS ${file} lines REGEX "^#include \"(${above})/")
      foreach(line ${lines})
        message("${file}: ${line}")
        math(EXPR failures "${failures} + 1")
      endforeach()
    endforeach()
  endforeach()
endforeach()

if(failures GREATER 0)
  message(FATAL_ERROR "${failures} layer checks failed")
endif()
