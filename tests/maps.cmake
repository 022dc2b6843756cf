# map! against a python dict model.
add_test(NAME maps.model
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/maps/check_maps.py $<TARGET_FILE:vyx>)
