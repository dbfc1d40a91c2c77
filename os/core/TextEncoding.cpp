#include "os/core/TextEncoding.h"

#include <iconv.h>

#include <array>
#include <cerrno>

namespace os {

namespace {

struct EncodingInfo {
  StringEncoding encoding;
  const char* charset;  // IANA name, lower-case
  const char* iconvName;
};

constexpr std::array<EncodingInfo, 15> kEncodings{{
    {StringEncoding::ASCII, "us-ascii", "ASCII"},
    {StringEncoding::EUCJP, "euc-jp", "EUC-JP"},
    {StringEncoding::UTF8, "utf-8", "UTF-8"},
    {StringEncoding::ISOLatin1, "iso-8859-1", "ISO-8859-1"},
    {StringEncoding::ShiftJIS, "shift_jis", "SHIFT_JIS"},
    {StringEncoding::ISOLatin2, "iso-8859-2", "ISO-8859-2"},
    {StringEncoding::UTF16, "utf-16", "UTF-16"},
    {StringEncoding::WindowsCP1252, "windows-1252", "CP1252"},
    {StringEncoding::UTF16BE, "utf-16be", "UTF-16BE"},
    {StringEncoding::UTF16LE, "utf-16le", "UTF-16LE"},
    {StringEncoding::UTF32, "utf-32", "UTF-32"},
    {StringEncoding::GBK, "gbk", "GBK"},
    {StringEncoding::GB18030, "gb18030", "GB18030"},
    {StringEncoding::GB2312, "gb2312", "EUC-CN"},
    {StringEncoding::Big5, "big5", "BIG5"},
}};

// Other spellings met in Content-Type headers. Pages labelled gb2312 routinely carry GBK
// characters, so that label decodes with GB 18030, which holds both.
struct Alias {
  const char* name;
  StringEncoding encoding;
};
constexpr std::array<Alias, 17> kAliases{{
    {"utf8", StringEncoding::UTF8},
    {"ascii", StringEncoding::ASCII},
    {"latin1", StringEncoding::ISOLatin1},
    {"iso8859-1", StringEncoding::ISOLatin1},
    {"iso_8859-1", StringEncoding::ISOLatin1},
    {"l1", StringEncoding::ISOLatin1},
    {"latin2", StringEncoding::ISOLatin2},
    {"cp1252", StringEncoding::WindowsCP1252},
    {"gb2312", StringEncoding::GB18030},
    {"euc-cn", StringEncoding::GB18030},
    {"x-euc-cn", StringEncoding::GB18030},
    {"cp936", StringEncoding::GBK},
    {"x-gbk", StringEncoding::GBK},
    {"sjis", StringEncoding::ShiftJIS},
    {"x-sjis", StringEncoding::ShiftJIS},
    {"utf16", StringEncoding::UTF16},
    {"big5-hkscs", StringEncoding::Big5},
}};

const EncodingInfo* infoFor(StringEncoding e) {
  for (const auto& info : kEncodings)
    if (info.encoding == e) return &info;
  return nullptr;
}

// Charset names come from the network: only plain name characters, so nobody can smuggle in a
// conversion suffix that makes lossy conversions pass as good ones.
bool isPlainCharsetName(std::string_view name) {
  if (name.empty() || name.size() > 64) return false;
  for (char c : name) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
              c == '.' || c == ':' || c == '+' || c == '(' || c == ')';
    if (!ok) return false;
  }
  return true;
}

std::string_view cleanName(std::string_view name) {
  while (!name.empty() && (name.front() == ' ' || name.front() == '\t' || name.front() == '"' || name.front() == '\''))
    name.remove_prefix(1);
  while (!name.empty() && (name.back() == ' ' || name.back() == '\t' || name.back() == '"' || name.back() == '\''))
    name.remove_suffix(1);
  return name;
}

// Strict conversion: any invalid or unrepresentable sequence fails the whole conversion.
std::optional<std::string> convert(std::string_view in, const std::string& to, const std::string& from) {
  iconv_t cd = iconv_open(to.c_str(), from.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out(in.size() * 2 + 16, '\0');
  std::size_t used = 0;
  char* inp = const_cast<char*>(in.data());
  std::size_t inLeft = in.size();
  bool ok = true;
  bool flushing = false;
  for (;;) {
    char* outp = out.data() + used;
    std::size_t outLeft = out.size() - used;
    std::size_t r = flushing ? iconv(cd, nullptr, nullptr, &outp, &outLeft) : iconv(cd, &inp, &inLeft, &outp, &outLeft);
    used = out.size() - outLeft;
    if (r == static_cast<std::size_t>(-1)) {
      if (errno == E2BIG) {
        out.resize(out.size() * 2);
        continue;
      }
      ok = false;  // EILSEQ (bad or unrepresentable) or EINVAL (truncated input)
      break;
    }
    if (flushing) break;
    flushing = true;  // write any shift sequence a stateful encoding still owes
  }
  iconv_close(cd);
  if (!ok) return std::nullopt;
  out.resize(used);
  return out;
}

std::optional<std::string> decodeUTF16(std::string_view bytes) {
  if (bytes.size() >= 2) {
    unsigned char a = static_cast<unsigned char>(bytes[0]), b = static_cast<unsigned char>(bytes[1]);
    if (a == 0xFE && b == 0xFF) return convert(bytes.substr(2), "UTF-8", "UTF-16BE");
    if (a == 0xFF && b == 0xFE) return convert(bytes.substr(2), "UTF-8", "UTF-16LE");
  }
  return convert(bytes, "UTF-8", "UTF-16BE");  // no byte-order mark: big-endian
}

std::string lowerName(std::string_view name) {
  std::string out(name);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

}  // namespace

std::optional<StringEncoding> encodingForCharsetName(std::string_view name) {
  std::string lower = lowerName(cleanName(name));
  for (const auto& alias : kAliases)
    if (lower == alias.name) return alias.encoding;
  for (const auto& info : kEncodings)
    if (lower == info.charset) return info.encoding;
  return std::nullopt;
}

std::string charsetName(StringEncoding encoding) {
  const EncodingInfo* info = infoFor(encoding);
  return info ? info->charset : "utf-8";
}

std::optional<StringEncoding> encodingForCode(std::uint32_t code) {
  for (const auto& info : kEncodings)
    if (static_cast<std::uint32_t>(info.encoding) == code) return info.encoding;
  return std::nullopt;
}

std::optional<std::string> decodeText(std::string_view bytes, StringEncoding encoding) {
  switch (encoding) {
    case StringEncoding::UTF8:
      if (!isValidUTF8(bytes)) return std::nullopt;
      return std::string(bytes);
    case StringEncoding::ISOLatin1: {
      std::string out;
      out.reserve(bytes.size());
      for (char c : bytes) appendUTF8(out, static_cast<unsigned char>(c));
      return out;
    }
    case StringEncoding::UTF16: return decodeUTF16(bytes);
    default: break;
  }
  const EncodingInfo* info = infoFor(encoding);
  if (!info) return std::nullopt;
  return convert(bytes, "UTF-8", info->iconvName);
}

std::optional<std::string> decodeText(const Data& bytes, StringEncoding encoding) {
  return decodeText(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), encoding);
}

std::optional<std::string> decodeText(std::string_view bytes, std::string_view charset) {
  charset = cleanName(charset);
  if (std::optional<StringEncoding> known = encodingForCharsetName(charset)) return decodeText(bytes, *known);
  if (!isPlainCharsetName(charset)) return std::nullopt;
  return convert(bytes, "UTF-8", std::string(charset));
}

std::optional<Data> encodeText(std::string_view utf8, StringEncoding encoding) {
  if (!isValidUTF8(utf8)) return std::nullopt;
  std::optional<std::string> bytes;
  if (encoding == StringEncoding::UTF8) {
    bytes = std::string(utf8);
  } else if (encoding == StringEncoding::UTF16) {
    // A byte-order mark, then the units little-endian, as the phone writes them.
    bytes = convert(utf8, "UTF-16LE", "UTF-8");
    if (bytes) bytes->insert(0, "\xFF\xFE");
  } else if (const EncodingInfo* info = infoFor(encoding)) {
    bytes = convert(utf8, info->iconvName, "UTF-8");
  }
  if (!bytes) return std::nullopt;
  return dataFromString(*bytes);
}

std::optional<Data> encodeText(std::string_view utf8, std::string_view charset) {
  charset = cleanName(charset);
  if (std::optional<StringEncoding> known = encodingForCharsetName(charset)) return encodeText(utf8, *known);
  if (!isPlainCharsetName(charset) || !isValidUTF8(utf8)) return std::nullopt;
  std::optional<std::string> bytes = convert(utf8, std::string(charset), "UTF-8");
  if (!bytes) return std::nullopt;
  return dataFromString(*bytes);
}

std::optional<std::string> percentEscape(std::string_view utf8, StringEncoding encoding, std::string_view keep) {
  // UTF-8 text is its own bytes: no copy to escape from.
  if (encoding == StringEncoding::UTF8) {
    if (!isValidUTF8(utf8)) return std::nullopt;
    return percentEscape(utf8, keep);
  }
  std::optional<Data> bytes = encodeText(utf8, encoding);
  if (!bytes) return std::nullopt;
  return percentEscape(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()), keep);
}

}  // namespace os
