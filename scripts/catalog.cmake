# The error catalog: boot/errors.vyx is the source; the C++ table and the Id
# constants are generated from it.
set(VYX_CATALOG_OUTPUTS
  ${VYX_GENERATED}/error_ids.h
  ${VYX_GENERATED}/error_catalog_data.cpp)
add_custom_command(
  OUTPUT ${VYX_CATALOG_OUTPUTS}
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/scripts/gen_catalog.py
          ${CMAKE_SOURCE_DIR}/boot/errors.vyx ${VYX_GENERATED}
  DEPENDS ${CMAKE_SOURCE_DIR}/scripts/gen_catalog.py ${CMAKE_SOURCE_DIR}/boot/errors.vyx
  COMMENT "Generating the error catalog table"
  VERBATIM)
# The header is listed too, so it exists before anything in vyxcore compiles.
list(APPEND VYX_GENERATED_SOURCES ${VYX_CATALOG_OUTPUTS})
