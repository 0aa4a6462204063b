# Run at build time for one layer of the engine: every source of LAYER may
# include only the layers listed in ALLOWED (itself and those below it), never
# another folder of the project (FOLDERS) nor a wx header. Writes STAMP when
# the layer is clean; stops the build with each offending line otherwise.
# ALLOWED and FOLDERS come comma-separated.
cmake_minimum_required(VERSION 3.25)
string(REPLACE "," ";" ALLOWED "${ALLOWED}")
string(REPLACE "," ";" FOLDERS "${FOLDERS}")
file(GLOB files ${SOURCE_DIR}/${LAYER}/*.cpp ${SOURCE_DIR}/${LAYER}/*.h ${SOURCE_DIR}/${LAYER}/*.inc)
set(faults)
foreach(f ${files})
  file(STRINGS ${f} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
  foreach(line ${lines})
    if(line MATCHES "<wx/")
      list(APPEND faults "${f}: ${line}")
    elseif(line MATCHES "\"([A-Za-z_]+)/")
      set(folder ${CMAKE_MATCH_1})
      if(folder IN_LIST FOLDERS AND NOT folder IN_LIST ALLOWED)
        list(APPEND faults "${f}: ${line}")
      endif()
    endif()
  endforeach()
endforeach()
if(faults)
  list(JOIN faults "\n  " text)
  message(FATAL_ERROR "${LAYER}/ may include only ${ALLOWED}:\n  ${text}")
endif()
file(WRITE ${STAMP} "")
