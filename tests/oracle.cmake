# Results checked against real peers and models: coreutils' encoders,
# python's struct and a set model, python3's float formatting and sorted.
foreach(name codecs numbers bitsets float_form sort_oracle)
  add_test(NAME oracle.${name}
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/oracle/${name}.py $<TARGET_FILE:vyx>)
endforeach()
# Under the sanitizers the same checks run on fewer random cases.
if(VYX_SANITIZE)
  set_tests_properties(oracle.codecs oracle.bitsets PROPERTIES ENVIRONMENT VYX_ORACLE_ROUNDS=30)
endif()
