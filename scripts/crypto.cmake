# The digests of checksum come from libcrypto. Fragments run
# before the runtime library is declared, so the library is linked through the
# directory's link list, which every target made afterwards picks up.
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
link_libraries(OpenSSL::Crypto)
