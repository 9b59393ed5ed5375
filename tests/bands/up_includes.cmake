# Compiles one include per row with a band's include folder alone: a band
# may include its own headers and those below it, never those above.
# cmake -DCXX=<compiler> -DBANDS=<build>/bands -DWORK=<scratch> -P up_includes.cmake
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
if(failures GREATER 0)
  message(FATAL_ERROR "${failures} band rows wrong")
endif()
