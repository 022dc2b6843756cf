# The committed Unicode tables must be exactly what their generators write.
foreach(pair "gen_case_tables.py:case_tables.cpp" "gen_width_tables.py:char_width_tables.cpp")
  string(REPLACE ":" ";" parts ${pair})
  list(GET parts 0 generator)
  list(GET parts 1 output)
  get_filename_component(name ${output} NAME_WE)
  add_test(NAME text.${name}_current
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/text/check_generated.py
            ${CMAKE_SOURCE_DIR} scripts/${generator} runtime/${output})
endforeach()
