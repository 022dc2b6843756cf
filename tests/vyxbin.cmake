# VYXBIN through the vyx executable: round trips of a corpus in both forms,
# LZ-packed payloads from a test-only encoder, and every truncation and many
# single-byte changes of the encodings. The sanitized builds check fewer
# byte positions.
add_test(NAME vyxbin.robust
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/vyxbin/robust.py $<TARGET_FILE:vyx>)
if(VYX_GC_STRESS)
  set_tests_properties(vyxbin.robust PROPERTIES ENVIRONMENT VYX_VYXBIN_STEP=29)
elseif(VYX_SANITIZE)
  set_tests_properties(vyxbin.robust PROPERTIES ENVIRONMENT VYX_VYXBIN_STEP=3)
endif()
