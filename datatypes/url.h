// url! (parent string!): a string that names a resource. Its payload is
// string!'s; it adds its molded form, percent-encoding and path navigation.
// file! (file.cpp) is a url! whose I/O actions reach the file system.
#pragma once
#include <cstdint>
#include <string>

#include "runtime/cell.h"

namespace vyx::url {

// The characters kept as they are when encoding: the URL set (letters,
// digits and ! # $ & ' ( ) * + , - . / : = ? @ _ ~) or the unreserved set
// (letters, digits and - . _ ~). Bytes from 0x80 are in neither.
enum class CharSet { url, unreserved };
bool keeps(CharSet set, uint8_t byte);

// Appends the percent-encoded form of UTF-8 bytes ("%XX", upper-case hex).
void encode(const uint8_t* bytes, size_t n, CharSet set, std::string& out);
// Appends to the string `out` the text of `src` (from its index) with its
// escapes decoded: a lead byte's escape joins the escapes of its
// continuation bytes into one character (an ill-formed sequence raises
// invalid-utf8); an escape of a byte below 0xC0 gives that code point; a "%"
// without a valid escape stays as it is.
void decode(const Cell* src, Cell* out);

void register_type();

}  // namespace vyx::url
