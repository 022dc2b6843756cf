# The libFuzzer targets, configured by scripts/fuzz-lexer, scripts/fuzz-vyxbin
# and scripts/fuzz-images (clang, with -fsanitize=fuzzer-no-link in the flags);
# they link what the runtime links.
option(VYX_FUZZ "Build the fuzz targets (clang and libFuzzer)" OFF)
if(VYX_FUZZ)
  foreach(target lexer_fuzz vyxbin_fuzz image_fuzz)
    add_executable(${target} ${CMAKE_SOURCE_DIR}/tests/fuzz/${target}.cpp)
    target_link_libraries(${target} PRIVATE vyxcore)
    target_link_options(${target} PRIVATE -fsanitize=fuzzer)
    set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
  endforeach()
endif()
