# The image codecs against ImageMagick and the public PNG test suite (kept
# beside the project, in ../shared/oracles).
find_path(VYX_PNGSUITE_DIR expected-rgba8-sha256.txt
  PATHS ${CMAKE_SOURCE_DIR}/../shared/oracles/pngsuite /work/shared/oracles/pngsuite NO_DEFAULT_PATH)
# Collection at every allocation makes each cut file cost a while: a sample.
vyx_sized_test(NAME image.oracle
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/image/oracle.py $<TARGET_FILE:vyx> ${VYX_PNGSUITE_DIR}
  STRESSED_ENV VYX_ORACLE_ROUNDS=60)
