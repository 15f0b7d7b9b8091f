# Checks every quoted #include of the product against the layer table: a file
# may include files of its own layer and of the layers below it, never one
# above. Run by the build before any library is compiled:
#   cmake -DSOURCE_DIR=<tree> -DSTAMP=<file> -P CheckLayers.cmake
#
# Layers, lowest first (a folder belongs to the longest entry that prefixes it):
#   0 platform/ (the Linux/Windows switch), chips/ (the host's hardware
#     declarations)
#   1 libmerix32/    2 driver/    3 Source/    4 card/    5 tcf/    6 engines/
#   7 app/ (the dialog controller shared by both programs)
#   8 app/linux/, app/windows/ (front ends and their framework shims)
#   9 tools/
# Beside them, sim/ may include only itself, libmerix32/ (whose functions it
# offers), the Windows program's seam to its kernel driver (which the
# simulated kernel driver implements: driver/windows/KernelPort.h, plain
# function declarations) and the framework: it must never see the host's
# declarations.
#
# Exceptions: app/LogWindow.h, the log-window interface that every reporting
# layer (card and up) is handed; and the framework headers app/linux/afx.h and
# app/windows/afxshim.h, an outside library to every layer (platform.h reaches
# them through the include path, as the real framework's header would be).
cmake_minimum_required(VERSION 3.18)

set(LAYER_platform 0)
set(LAYER_chips 0)
set(LAYER_libmerix32 1)
set(LAYER_driver 2)
set(LAYER_Source 3)
set(LAYER_card 4)
set(LAYER_tcf 5)
set(LAYER_engines 6)
set(LAYER_app 7)
set(LAYER_app/linux 8)
set(LAYER_app/windows 8)
set(LAYER_tools 9)
set(FOLDERS app/linux app/windows platform chips libmerix32 driver Source card tcf engines app tools sim)
set(FRAMEWORK app/linux/afx.h app/windows/afxshim.h)
set(LOG_WINDOW app/LogWindow.h)
set(SIM_SEAMS driver/windows/KernelPort.h)

function(folder_of rel out)
  set(found "")
  foreach(folder ${FOLDERS})
    string(LENGTH "${folder}/" n)
    string(SUBSTRING "${rel}" 0 ${n} head)
    if(head STREQUAL "${folder}/")
      set(found ${folder})
      break()
    endif()
  endforeach()
  set(${out} "${found}" PARENT_SCOPE)
endfunction()

set(files "")
foreach(folder ${FOLDERS})
  file(GLOB_RECURSE some ${SOURCE_DIR}/${folder}/*.h ${SOURCE_DIR}/${folder}/*.cpp ${SOURCE_DIR}/${folder}/*.def)
  list(APPEND files ${some})
endforeach()
list(REMOVE_DUPLICATES files)

set(errors 0)
foreach(path ${files})
  file(RELATIVE_PATH rel ${SOURCE_DIR} ${path})
  folder_of("${rel}" from)
  get_filename_component(dir ${path} DIRECTORY)
  file(STRINGS ${path} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"]+\"")
  foreach(line ${lines})
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" name "${line}")
    get_filename_component(target "${dir}/${name}" ABSOLUTE)
    if(NOT EXISTS ${target})
      get_filename_component(target "${SOURCE_DIR}/${name}" ABSOLUTE)
    endif()
    if(NOT EXISTS ${target})
      continue()  # outside the tree (or only on the other platform): the compiler judges it
    endif()
    file(RELATIVE_PATH to ${SOURCE_DIR} ${target})
    if(to IN_LIST FRAMEWORK)
      continue()
    endif()
    folder_of("${to}" into)
    set(ok FALSE)
    if(from STREQUAL into)
      set(ok TRUE)
    elseif(from STREQUAL "sim")
      if(into STREQUAL "libmerix32" OR to IN_LIST SIM_SEAMS)
        set(ok TRUE)
      endif()
    elseif(NOT into STREQUAL "" AND NOT into STREQUAL "sim")
      if(${LAYER_${into}} LESS_EQUAL ${LAYER_${from}})
        set(ok TRUE)
      elseif(to STREQUAL LOG_WINDOW AND ${LAYER_${from}} GREATER_EQUAL ${LAYER_card})
        set(ok TRUE)
      endif()
    endif()
    if(NOT ok)
      message(SEND_ERROR "${rel}: #include \"${name}\": ${to} is not below ${from}/ in the layer order")
      math(EXPR errors "${errors} + 1")
    endif()
  endforeach()
endforeach()

if(errors GREATER 0)
  message(FATAL_ERROR "${errors} include(s) break the layer order (scripts/CheckLayers.cmake)")
endif()
file(WRITE ${STAMP} "layers ok\n")
