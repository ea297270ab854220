// Character sets at the edge of the import library. Documents arrive in many encodings
// (mostly UTF-8 today) while the libraries work on single-byte Windows-1252 text: these
// helpers decide a document's character set once and convert it to Windows-1252 before
// any parsing, transliterating what Windows-1252 cannot hold ("café" stays "café", a
// character outside the set becomes its nearest plain form or "?").
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The character set named by an HTML document, or "" when it names none: the first
// <meta charset="X"> or <meta http-equiv="Content-Type" content="...; charset=X"> in the
// first 8 KB. The name is returned lower-cased and without quotes.
std::string charsetFromHtml(std::string_view html);

// The charset parameter of a MIME Content-Type value ("text/html; charset=UTF-8"),
// lower-cased and without quotes, or "".
std::string charsetFromContentType(std::string_view contentType);

// True when bytes are well-formed UTF-8 (no overlong forms, surrogates or values above
// U+10FFFF). Plain ASCII is well-formed UTF-8.
bool charsetIsUtf8(std::string_view bytes);

// The character set to read bytes with: a byte-order mark wins ("utf-8", "utf-16le",
// "utf-16be"); then the declared name when it is usable; then "utf-8" when the bytes are
// well-formed UTF-8 and hold at least one byte above 127; else "windows-1252".
// ISO-8859-1 and US-ASCII declarations are read as Windows-1252, its superset.
std::string charsetDecide(std::string_view declared, std::string_view bytes);

// Converts bytes from the named character set to Windows-1252. Characters Windows-1252
// lacks are transliterated (iconv's transliteration, then a table of accented Latin
// letters, then "?"). Bytes that are not valid in the source set are kept as
// Windows-1252 bytes, so nothing is lost; a byte-order mark is dropped. An unknown
// character set name leaves the bytes unchanged.
std::string charsetToWindows1252(std::string_view bytes, std::string_view fromCharset);

// Decides the character set of a whole document (declared is the name from its header
// or markup, may be empty) and converts it to Windows-1252.
std::string charsetDocumentToWindows1252(std::string_view bytes, std::string_view declared);

// As charsetDocumentToWindows1252 with the declaration taken from the HTML itself.
std::string charsetHtmlToWindows1252(std::string_view html);

// Appends the Windows-1252 form of one Unicode code point to out: one byte when the set
// holds it (U+0080..U+009F stand for the Windows-1252 bytes of the same value, as
// numeric character references in web pages use them), else its transliteration, else
// "?". Returns false, appending nothing, for 0, surrogates and values above U+10FFFF.
bool charsetAppendCodePoint(std::string& out, uint32_t codePoint);
