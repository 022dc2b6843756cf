# The digests of checksum come from libcrypto, loaded by the first digest
# (only its headers are needed to build).
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
include_directories(${OPENSSL_INCLUDE_DIR})
