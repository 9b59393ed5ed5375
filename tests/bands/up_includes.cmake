# Compiles one include per row with a band's include folder alone: a band
# may include its own headers and those below it, never those above. Then,
# inside each band, folders include one another one way only: a folder that
# includes another of its band that includes it back (directly or through
# others) is a cycle, checked on made-up folders per row and on the bands.
# cmake -DCXX=<compiler> -DBANDS=<build>/bands -DWORK=<scratch> -P up_includes.cmake
cmake_policy(VERSION 3.20)
set(rows
  # band          header                     may include
  "core           core/text.h                yes"
  "core           platform/clock.h           yes"
  "core           strokes/key_queue.h        no"
  "platform       core/text.h                no"
  "domain         core/strike_records.h      yes"
  "domain         ui/monitor_region.h        no"
  "domain         runlog/strike_log.h        no"
  "domain         console/screen.h           no"
  "domain         service/program.h          no"
  "presentation   strokes/key_queue.h        yes"
  "presentation   service/program.h          no"
  "service        ui/big_counter.h           yes"
)
file(MAKE_DIRECTORY ${WORK})
set(failures 0)
foreach(row ${rows})
  string(REGEX REPLACE " +" ";" f "${row}")
  list(GET f 0 band)
  list(GET f 1 header)
  list(GET f 2 allowed)
  set(probe ${WORK}/probe.cpp)
  file(WRITE ${probe} "#include \"${header}\"\n")
  execute_process(COMMAND ${CXX} -std=c++20 -fsyntax-only -I${BANDS}/${band} ${probe}
                  RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
  if(allowed STREQUAL "yes" AND NOT rc EQUAL 0)
    message(SEND_ERROR "${band} cannot include ${header}, which it may:\n${err}")
    math(EXPR failures "${failures} + 1")
  elseif(allowed STREQUAL "no" AND rc EQUAL 0)
    message(SEND_ERROR "${band} includes ${header} from a band above it, and it builds")
    math(EXPR failures "${failures} + 1")
  endif()
endforeach()

# The first folder of `folders` (under root) that reaches itself through
# the includes of the folders, with the ones it includes; empty: none.
function(folder_cycle root folders out)
  foreach(a ${folders})
    file(GLOB files ${root}/${a}/*.h ${root}/${a}/*.cpp)
    set(edge_${a})
    foreach(f ${files})
      file(STRINGS ${f} incs REGEX "^#include \"[a-z_0-9]+/")
      foreach(i ${incs})
        string(REGEX REPLACE "^#include \"([a-z_0-9]+)/.*" "\\1" b "${i}")
        if(NOT b STREQUAL a AND b IN_LIST folders AND NOT b IN_LIST edge_${a})
          list(APPEND edge_${a} ${b})
        endif()
      endforeach()
    endforeach()
  endforeach()
  foreach(a ${folders})
    set(seen)
    set(todo ${edge_${a}})
    while(todo)
      list(POP_FRONT todo b)
      if(b STREQUAL a)
        set(${out} "${a} (includes ${edge_${a}})" PARENT_SCOPE)
        return()
      endif()
      if(NOT b IN_LIST seen)
        list(APPEND seen ${b})
        list(APPEND todo ${edge_${b}})
      endif()
    endwhile()
  endforeach()
  set(${out} "" PARENT_SCOPE)
endfunction()

set(cycle_rows
  # folder:folders it includes, ...   a cycle
  "a:b,c  b:c  c:                     no"
  "a:b    b:a                         yes"
  "a:b    b:c  c:a                    yes"
  "a:b    b:   c:a                    no"
)
set(n 0)
foreach(row ${cycle_rows})
  math(EXPR n "${n} + 1")
  string(REGEX REPLACE " +" ";" f "${row}")
  list(POP_BACK f expected)
  set(root ${WORK}/cycles/${n})
  file(REMOVE_RECURSE ${root})
  set(folders)
  foreach(entry ${f})
    string(REPLACE ":" ";" parts "${entry}")
    list(GET parts 0 folder)
    list(APPEND folders ${folder})
    set(text "#pragma once\n")
    list(LENGTH parts len)
    if(len GREATER 1)
      list(GET parts 1 targets)
      string(REPLACE "," ";" targets "${targets}")
      foreach(t ${targets})
        string(APPEND text "#include \"${t}/x.h\"\n")
      endforeach()
    endif()
    file(WRITE ${root}/${folder}/x.h "${text}")
  endforeach()
  folder_cycle(${root} "${folders}" cycle)
  if(expected STREQUAL "yes" AND cycle STREQUAL "")
    message(SEND_ERROR "row ${n} (${row}): the cycle is not found")
    math(EXPR failures "${failures} + 1")
  elseif(expected STREQUAL "no" AND NOT cycle STREQUAL "")
    message(SEND_ERROR "row ${n} (${row}): a cycle is found at ${cycle}")
    math(EXPR failures "${failures} + 1")
  endif()
endforeach()

# Each band's own folders are those its include folder has and the one
# below it has not.
set(below platform)
foreach(band core domain presentation service)
  file(GLOB mine RELATIVE ${BANDS}/${band} ${BANDS}/${band}/*)
  file(GLOB theirs RELATIVE ${BANDS}/${below} ${BANDS}/${below}/*)
  list(REMOVE_ITEM mine ${theirs})
  folder_cycle(${BANDS}/${band} "${mine}" cycle)
  if(NOT cycle STREQUAL "")
    message(SEND_ERROR "in the ${band} band, ${cycle} is included back by a folder it includes")
    math(EXPR failures "${failures} + 1")
  endif()
  set(below ${band})
endforeach()

if(failures GREATER 0)
  message(FATAL_ERROR "${failures} band rows wrong")
endif()
