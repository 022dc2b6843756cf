# The set operations against a python model.
add_test(NAME sets.model
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/sets/check_sets.py $<TARGET_FILE:vyx>)
