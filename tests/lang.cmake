# Language-level case tables: one ctest test per file in tests/lang/.
file(GLOB VYX_CASE_FILES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/lang/*.txt)
foreach(cases ${VYX_CASE_FILES})
  get_filename_component(name ${cases} NAME_WE)
  add_test(NAME lang.${name}
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/lang/run_cases.py $<TARGET_FILE:vyx> ${cases})
endforeach()
