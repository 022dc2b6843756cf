# Start-up: the command line, the cache path, failing library modules, the split.
add_test(NAME boot COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/boot/run_boot.py $<TARGET_FILE:vyx>
  $<TARGET_FILE:gen_boot_data> ${CMAKE_SOURCE_DIR}/library ${VYX_BOOT_BLOB})
# The stress build runs the library's start-up with a collection at every
# allocation only when asked: once here, a program that uses what it made.
add_test(NAME boot.stressed
  COMMAND sh -c "printf 'print [pi 1 + 2 type? :append]\\n' | $<TARGET_FILE:vyx>")
set_tests_properties(boot.stressed PROPERTIES ENVIRONMENT "VYX_GC_STRESS_BOOT=1"
  PASS_REGULAR_EXPRESSION "3.141592653589793 3 action")
