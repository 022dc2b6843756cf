# Start-up: the command line, the cache path, failing library modules, the split.
add_test(NAME boot COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/boot/run_boot.py $<TARGET_FILE:vyx>
  $<TARGET_FILE:gen_boot_data> ${CMAKE_SOURCE_DIR}/library ${VYX_BOOT_BLOB})
# The stress build runs the library's start-up with a collection at every
# allocation only when asked: once here, a program that uses what it made.
add_test(NAME boot.stressed
  COMMAND sh -c "printf 'print [pi 1 + 2 type? :append]\\n' | $<TARGET_FILE:vyx>")
set_tests_properties(boot.stressed PROPERTIES ENVIRONMENT "VYX_GC_STRESS_BOOT=1"
  PASS_REGULAR_EXPRESSION "3.141592653589793 3 action")
# VYX_GC_STRESS=1 stresses any build; and the sanitized build's stressed run
# (scripts/test) really is stressed.
add_test(NAME boot.stress_asked COMMAND $<TARGET_FILE:vyx> ${CMAKE_SOURCE_DIR}/tests/boot/stress_probe.vyx)
set_tests_properties(boot.stress_asked PROPERTIES ENVIRONMENT VYX_GC_STRESS=1
  PASS_REGULAR_EXPRESSION "stressed: true")
if(VYX_SANITIZE AND NOT VYX_GC_STRESS)
  add_test(NAME boot.stressed_run COMMAND $<TARGET_FILE:vyx> ${CMAKE_SOURCE_DIR}/tests/boot/stress_probe.vyx)
  set_tests_properties(boot.stressed_run PROPERTIES LABELS stressed PASS_REGULAR_EXPRESSION "stressed: true")
endif()
