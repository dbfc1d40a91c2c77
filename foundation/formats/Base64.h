#pragma once
// Base64 with the standard alphabet and "=" padding. Encoding can break lines with "\r\n" every
// `width` characters (rounded down to a multiple of 4; below 4 means one line). Decoding is
// lenient: every character outside the alphabet ("=", white space, line breaks) is skipped.
#include <optional>
#include <string>
#include <string_view>

#include "os/core/Data.h"

// Where wrapped output breaks: after every full line (a last full line too), or only between
// lines (the messenger platform's form). Callers that want one line remove every "\r\n".
enum class Base64LineBreaks { AfterEveryLine, BetweenLines };

// Bytes to text; nothing for empty data.
std::optional<std::string> base64EncodedStringWithWrapWidth(const os::Data& data, long width,
                                                            Base64LineBreaks breaks = Base64LineBreaks::AfterEveryLine);
std::optional<std::string> base64EncodedString(const os::Data& data);
// The UTF-8 bytes of a string to text.
std::optional<std::string> base64EncodedStringWithWrapWidth(std::string_view string, long width);
std::optional<std::string> base64EncodedString(std::string_view string);

// Text to bytes; nothing when no byte results.
std::optional<os::Data> dataWithBase64EncodedString(std::string_view text);
// Text to a UTF-8 string; nothing when no byte results or the bytes are not UTF-8.
std::optional<std::string> stringWithBase64EncodedString(std::string_view text);
inline std::optional<os::Data> base64DecodedData(std::string_view text) { return dataWithBase64EncodedString(text); }
inline std::optional<std::string> base64DecodedString(std::string_view text) { return stringWithBase64EncodedString(text); }
