# VYXBIN through the vyx executable: round trips of a corpus in both forms,
# LZ-packed payloads from a test-only encoder, and every truncation and many
# single-byte changes of the encodings. The sanitized runs check fewer
# byte positions (and the collection-at-every-allocation one collects at
# every 7th only).
vyx_sized_test(NAME vyxbin.robust
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/vyxbin/robust.py $<TARGET_FILE:vyx>
  SANITIZED_ENV VYX_VYXBIN_STEP=3
  STRESSED_ENV VYX_VYXBIN_STEP=53 VYX_VYXBIN_SMALL=1 VYX_GC_STRESS_N=7)
