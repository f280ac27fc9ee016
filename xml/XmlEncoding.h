#pragma once

#include <string>
#include <string_view>

// The encodings the loader reads a head-office file in.
namespace quorvane {

// Registers the program's Windows-1252 decoder with libxml2, for the process. Call once.
void RegisterCp1252Decoder();

// Encodings whose every byte below 0x80 is the ASCII character itself and never part of a
// longer sequence, so that the markup guard reads their raw bytes as the parser reads the
// characters: UTF-8, US-ASCII, ISO-8859-n, Windows-125n. UTF-7, UTF-16, EBCDIC and the Asian
// multi-byte encodings are not among them.
bool IsAdmittedEncoding(std::string_view name);

// Why the loader refuses a file that starts with these bytes (its first bytes read by libxml2
// as a wide or EBCDIC encoding, a declaration naming an encoding not admitted, or one that
// cannot be read), or the empty text when it reads it.
std::string RefusedEncoding(std::string_view start);

}  // namespace quorvane
