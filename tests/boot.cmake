# Start-up: the command line, the cache path, failing library modules, the split.
add_test(NAME boot COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/boot/run_boot.py $<TARGET_FILE:vyx>
  $<TARGET_FILE:gen_boot_data> ${CMAKE_SOURCE_DIR}/library ${VYX_BOOT_BLOB})
