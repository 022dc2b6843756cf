# Results checked against real peers and models: coreutils' encoders,
# python's struct and array, a set model, python3's float formatting and sorted.
# The collection-at-every-allocation build checks smaller samples.
foreach(name codecs numbers bitsets vectors)
  add_test(NAME oracle.${name}
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/oracle/${name}.py $<TARGET_FILE:vyx>)
endforeach()
# Under the sanitizers the same checks run on fewer random cases.
if(VYX_SANITIZE OR VYX_GC_STRESS)
  set_tests_properties(oracle.codecs oracle.bitsets oracle.vectors PROPERTIES ENVIRONMENT VYX_ORACLE_ROUNDS=30)
endif()
if(VYX_GC_STRESS)
  set(VYX_FLOAT_FORM_ARGS 500)
  set(VYX_SORT_ORACLE_ARGS --small)
elseif(VYX_SANITIZE)
  set(VYX_FLOAT_FORM_ARGS 20000)
endif()
add_test(NAME oracle.float_form
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/oracle/float_form.py $<TARGET_FILE:vyx> ${VYX_FLOAT_FORM_ARGS})
add_test(NAME oracle.sort_oracle
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/oracle/sort_oracle.py $<TARGET_FILE:vyx> ${VYX_SORT_ORACLE_ARGS})
# parse against python's re; collection at every allocation makes each case
# cost milliseconds, so that build runs fewer.
add_test(NAME oracle.parse
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/oracle/parse.py $<TARGET_FILE:vyx>)
if(VYX_GC_STRESS)
  set_tests_properties(oracle.parse PROPERTIES ENVIRONMENT VYX_PARSE_CASES=300)
endif()
# Dates against python's datetime (every day of years 1-9999, time texts) and
# money against python's decimal; the sanitized builds take samples.
if(VYX_GC_STRESS)
  set(VYX_DATES_ARGS 997 300)
  set(VYX_MONEY_ARGS 1000)
elseif(VYX_SANITIZE)
  set(VYX_DATES_ARGS 97 2000)
  set(VYX_MONEY_ARGS 10000)
endif()
add_test(NAME oracle.dates
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/oracle/dates.py $<TARGET_FILE:vyx> ${VYX_DATES_ARGS})
add_test(NAME oracle.money
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/oracle/money.py $<TARGET_FILE:vyx> ${VYX_MONEY_ARGS})
