# The trigonometric and logarithmic natives against python's math module. The
# collection-at-every-allocation build runs a sample: its cost grows with the
# size of the script.
if(VYX_GC_STRESS)
  set(VYX_MATH_ORACLE_COUNT 100)
else()
  set(VYX_MATH_ORACLE_COUNT 10000)
endif()
add_test(NAME math.oracle
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/math/check_math.py $<TARGET_FILE:vyx> ${VYX_MATH_ORACLE_COUNT})
