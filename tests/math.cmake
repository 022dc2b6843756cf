# The trigonometric and logarithmic natives against python's math module.
add_test(NAME math.oracle
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/math/check_math.py $<TARGET_FILE:vyx>)
