# The image codecs against ImageMagick and the public PNG test suite (kept
# beside the project, in ../shared/oracles).
find_path(VYX_PNGSUITE_DIR expected-rgba8-sha256.txt
  PATHS ${CMAKE_SOURCE_DIR}/../shared/oracles/pngsuite /work/shared/oracles/pngsuite NO_DEFAULT_PATH)
add_test(NAME image.oracle
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/image/oracle.py $<TARGET_FILE:vyx> ${VYX_PNGSUITE_DIR})
# Collection at every allocation makes each cut file cost a while: a sample.
if(VYX_GC_STRESS)
  set_tests_properties(image.oracle PROPERTIES ENVIRONMENT VYX_ORACLE_ROUNDS=60)
endif()
