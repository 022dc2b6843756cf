# The library's Vyx modules, embedded as text in the manifest's order.
file(GLOB VYX_LIBRARY_MODULES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/library/*.vyx)
add_custom_command(
  OUTPUT ${VYX_GENERATED}/library_modules.cpp
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/scripts/gen_library.py
          ${CMAKE_SOURCE_DIR}/library ${VYX_GENERATED}/library_modules.cpp
  DEPENDS ${CMAKE_SOURCE_DIR}/scripts/gen_library.py ${CMAKE_SOURCE_DIR}/library/manifest.txt
          ${VYX_LIBRARY_MODULES}
  COMMENT "Embedding the library modules"
  VERBATIM)
list(APPEND VYX_GENERATED_SOURCES ${VYX_GENERATED}/library_modules.cpp)
