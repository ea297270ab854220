// Text at the edge of the command-line programs. The libraries work on single-byte
// Windows-1252 text, while arguments, standard input and the terminal speak the
// locale's character set (UTF-8 almost everywhere today). Programs convert once, where
// text comes in and where it goes out:
//
//   std::string query = utf8ToCp1252(argv[1]);    // "Straße" -> "Stra\xDFe"
//   std::fputs(cp1252ToLocale(title).c_str(), stdout);
//
// File names and references that name files are not text of this kind and pass as
// they are.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Windows-1252 form of UTF-8 text. Characters Windows-1252 lacks become '?'. Bytes that
// are not well-formed UTF-8 (overlong forms, surrogates, stray continuation bytes) are
// kept as they are, so text that already was single-byte passes unchanged.
std::string utf8ToCp1252(std::string_view text);

// UTF-8 form of Windows-1252 text, with the real table for 0x80-0x9F (0x80 is the euro
// sign, 0x93 and 0x94 the curly double quotes, ...); the five bytes Windows-1252 leaves
// undefined become the control characters of the same value.
std::string cp1252ToUtf8(std::string_view text);

// Windows-1252 text in the character set of the user's locale (LC_ALL, LC_CTYPE, LANG;
// read once): UTF-8 for a UTF-8 locale, else the locale's set with characters it lacks
// transliterated or written as '?'.
std::string cp1252ToLocale(std::string_view text);

// Appends the UTF-8 form of a code point of the Basic Multilingual Plane (at most
// U+FFFF; larger values are not expected by the callers).
void appendUtf8(std::string& out, uint32_t codePoint);
