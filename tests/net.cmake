# HTTP and HTTPS requests through the vyx executable against a local python3
# server (the https check makes its certificate with openssl).
add_test(NAME http COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/net/run_http.py $<TARGET_FILE:vyx>)
