# compress, decompress and checksum through the vyx executable, against
# python3's zlib, gzip, hashlib and hmac and the gzip command.
add_test(NAME codecs.interop COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/codecs/interop.py $<TARGET_FILE:vyx>)
