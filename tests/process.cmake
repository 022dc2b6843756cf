# How the vyx process ends when its output or its script fails.
add_test(NAME process COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/process/run_process.py $<TARGET_FILE:vyx>)
