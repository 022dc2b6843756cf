# map! against a python dict model.
add_test(NAME maps.model
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/maps/check_maps.py $<TARGET_FILE:vyx>)
# hash! answers searches as block! does, whatever changed its cells.
add_test(NAME maps.hash_vs_block
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/maps/check_hashes.py $<TARGET_FILE:vyx>)
