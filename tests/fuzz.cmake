# The lexer's libFuzzer target, configured by scripts/fuzz-lexer (clang, with
# -fsanitize=fuzzer-no-link in the flags); it links what the runtime links.
option(VYX_FUZZ "Build the lexer fuzz target (clang and libFuzzer)" OFF)
if(VYX_FUZZ)
  add_executable(lexer_fuzz ${CMAKE_SOURCE_DIR}/tests/fuzz/lexer_fuzz.cpp)
  target_link_libraries(lexer_fuzz PRIVATE vyxcore)
  target_link_options(lexer_fuzz PRIVATE -fsanitize=fuzzer)
  set_target_properties(lexer_fuzz PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
endif()
