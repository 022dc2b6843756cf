# The unit tests check the codecs in io/ against zlib, linked into the test
# binary only.
find_package(ZLIB REQUIRED)
target_link_libraries(vyx_unit PRIVATE ZLIB::ZLIB)
