# Realistic programs run through the vyx executable: each in its own process,
# then all of them in one process with collections between them.
add_test(NAME programs COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/programs/run_programs.py $<TARGET_FILE:vyx>)
add_test(NAME programs.together
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/programs/run_programs.py $<TARGET_FILE:vyx> --together)
