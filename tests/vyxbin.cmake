# VYXBIN through the vyx executable: round trips of a corpus in both forms,
# LZ-packed payloads from a test-only encoder, and every truncation and many
# single-byte changes of the encodings. The sanitized builds check fewer
# byte positions (and the collection-at-every-allocation build collects at
# every 7th only).
add_test(NAME vyxbin.robust
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/vyxbin/robust.py $<TARGET_FILE:vyx>)
if(VYX_GC_STRESS)
  set_tests_properties(vyxbin.robust PROPERTIES ENVIRONMENT "VYX_VYXBIN_STEP=53;VYX_VYXBIN_SMALL=1;VYX_GC_STRESS_N=7")
elseif(VYX_SANITIZE)
  set_tests_properties(vyxbin.robust PROPERTIES ENVIRONMENT VYX_VYXBIN_STEP=3)
endif()
