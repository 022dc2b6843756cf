# Results checked against real peers and models: coreutils' encoders,
# python's struct and array, a set model, python3's float formatting and sorted.
# The collection-at-every-allocation run checks smaller samples.
foreach(name codecs numbers bitsets vectors)
  add_test(NAME oracle.${name}
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/oracle/${name}.py $<TARGET_FILE:vyx>)
endforeach()
# Under the sanitizers the same checks run on fewer random cases.
if(VYX_SANITIZE OR VYX_GC_STRESS)
  set_tests_properties(oracle.codecs oracle.bitsets oracle.vectors PROPERTIES ENVIRONMENT VYX_ORACLE_ROUNDS=30)
endif()
vyx_sized_test(NAME oracle.float_form
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/oracle/float_form.py $<TARGET_FILE:vyx>
  SANITIZED_ARGS 20000 STRESSED_ARGS 500)
vyx_sized_test(NAME oracle.sort_oracle
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/oracle/sort_oracle.py $<TARGET_FILE:vyx>
  STRESSED_ARGS --small)
# parse against python's re; collection at every allocation makes each case
# cost milliseconds, so that run takes fewer.
vyx_sized_test(NAME oracle.parse
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/oracle/parse.py $<TARGET_FILE:vyx>
  STRESSED_ENV VYX_PARSE_CASES=300)
# Dates against python's datetime (every day of years 1-9999, time texts) and
# money against python's decimal; the sanitized runs take samples.
vyx_sized_test(NAME oracle.dates
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/oracle/dates.py $<TARGET_FILE:vyx>
  SANITIZED_ARGS 97 2000 STRESSED_ARGS 997 300)
vyx_sized_test(NAME oracle.money
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/oracle/money.py $<TARGET_FILE:vyx>
  SANITIZED_ARGS 10000 STRESSED_ARGS 1000)
