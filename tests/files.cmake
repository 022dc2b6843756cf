# Files, directories, processes and the environment through the vyx
# executable, each check in a temporary directory, python3 as the oracle.
add_test(NAME files COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/files/run_files.py $<TARGET_FILE:vyx>)
if(VYX_SANITIZE OR VYX_GC_STRESS)
  set_tests_properties(files PROPERTIES ENVIRONMENT VYX_FILES_MB=1)
endif()
