# Scripts run by the vyx executable, with their expected output and status.
add_test(NAME scripts COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/scripts/run_scripts.py $<TARGET_FILE:vyx>)
