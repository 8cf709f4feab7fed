# Runs help_screenshot in the bin folder and converts its picture to PNG.
#   cmake -DRUN=<wine-run> -DBIN=<bin dir> -DPYTHON=<python3> -DCONVERT=<bmp_to_png.py>
#         -DOUT=<png> -P Screenshot.cmake
if(NOT EXISTS ${BIN}/Ivro.chm)
    message(FATAL_ERROR "no Ivro.chm beside the module in ${BIN}")
endif()
execute_process(COMMAND ${RUN} ${BIN}/help_screenshot.exe ${OUT}.bmp
    WORKING_DIRECTORY ${BIN} RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "no picture of the help viewer was taken")
endif()
execute_process(COMMAND ${PYTHON} ${CONVERT} ${OUT}.bmp ${OUT} RESULT_VARIABLE failed)
file(REMOVE ${OUT}.bmp)
if(failed)
    message(FATAL_ERROR "the picture could not be converted")
endif()
message(STATUS "saved ${OUT}")
