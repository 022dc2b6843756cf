# The trigonometric and logarithmic natives against python's math module. The
# collection-at-every-allocation run takes a sample: its cost grows with the
# size of the script.
vyx_sized_test(NAME math.oracle
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/math/check_math.py $<TARGET_FILE:vyx>
  SANITIZED_ARGS 10000 STRESSED_ARGS 100)
