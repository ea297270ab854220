# Runs a fuzz target's replay with the temporary folder pointed at a fresh, empty
# folder, and fails when anything is left in it afterwards.
#   cmake -DPROGRAM=... -DCORPUS=... -DWORK=... -P check_cleanup.cmake
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} -E env TMPDIR=${WORK} ${PROGRAM} --random 50 ${CORPUS}
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} failed: ${rc}")
endif()
file(GLOB left ${WORK}/*)
file(REMOVE_RECURSE ${WORK})
if(left)
  message(FATAL_ERROR "${PROGRAM} left files behind: ${left}")
endif()
