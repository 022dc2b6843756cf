# The include directions between the source layers (scripts/check_layers.py),
# and the checker's own fixture: a tree with one upward include must fail.
add_test(NAME layers.includes COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/scripts/check_layers.py ${CMAKE_SOURCE_DIR})
add_test(NAME layers.checker COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/layers/check_checker.py
         ${CMAKE_SOURCE_DIR}/scripts/check_layers.py)
