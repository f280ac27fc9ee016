#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Text helpers shared by every layer. The program holds text as UTF-8; files that the store
// world reads as 8-bit text (settings, ombbde.ini, the report) are Windows-1252 on disk.
namespace quorvane {

// Windows-1252 bytes to UTF-8. The five bytes that code page leaves undefined map to the C1
// control of the same value, so nothing read is ever lost.
std::string Cp1252ToUtf8(std::string_view bytes);

// UTF-8 to Windows-1252 bytes; a character without a Windows-1252 form, or a malformed UTF-8
// sequence, becomes "?".
std::string Utf8ToCp1252(std::string_view text);

// The whole-number syntax of the store world's conversions: optional leading blanks, an optional
// sign, then decimal digits only, and the value must fit 32 signed bits.
std::optional<std::int32_t> TryStrToInt(std::string_view text);
// The same rule widened to 64 bits.
std::optional<std::int64_t> TryStrToInt64(std::string_view text);
std::int32_t StrToIntDef(std::string_view text, std::int32_t defaultValue);

// Without the blanks and tabs at either end.
std::string_view TrimBlanks(std::string_view text);

// The text's characters with letter case folded (every letter Windows-1252 has, accented ones
// included), for comparing and ordering codes without regard to case.
std::u32string FoldCase(std::string_view utf8);

// ASCII upper case, as the command line and INI names are compared.
std::string AsciiUpper(std::string_view text);
bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b);

}  // namespace quorvane
