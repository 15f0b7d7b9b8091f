# The layer check refuses an include that reaches up a layer and accepts one
# that reaches down: a tree of two layers is checked twice.
#   cmake -DCHECK=<CheckLayers.cmake> -DWORK=<scratch dir> -P LayerCheckTest.cmake
file(REMOVE_RECURSE ${WORK})
file(WRITE ${WORK}/engines/Engine.h "#pragma once\n#include \"../card/Card.h\"\n")
file(WRITE ${WORK}/card/Card.h "#pragma once\n")
execute_process(COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${WORK} -DSTAMP=${WORK}/ok -P ${CHECK}
                RESULT_VARIABLE down ERROR_VARIABLE downText)
if(NOT down EQUAL 0)
  message(FATAL_ERROR "an include that reaches down was refused:\n${downText}")
endif()

file(WRITE ${WORK}/card/Card.h "#pragma once\n#include \"../engines/Engine.h\"\n")
execute_process(COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${WORK} -DSTAMP=${WORK}/ok -P ${CHECK}
                RESULT_VARIABLE up ERROR_VARIABLE upText)
if(up EQUAL 0 OR NOT upText MATCHES "card/Card.h: #include \"../engines/Engine.h\"")
  message(FATAL_ERROR "an include that reaches up was not refused (${up}):\n${upText}")
endif()

# The simulator never sees the host's hardware declarations.
file(WRITE ${WORK}/card/Card.h "#pragma once\n")
file(WRITE ${WORK}/chips/Part.h "#pragma once\n")
file(WRITE ${WORK}/sim/Model.h "#pragma once\n#include \"../chips/Part.h\"\n")
execute_process(COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${WORK} -DSTAMP=${WORK}/ok -P ${CHECK}
                RESULT_VARIABLE sim ERROR_VARIABLE simText)
if(sim EQUAL 0)
  message(FATAL_ERROR "the simulator's include of a host declaration was not refused")
endif()
file(REMOVE_RECURSE ${WORK})
