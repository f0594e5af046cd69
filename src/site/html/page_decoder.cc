#include "site/html/page_decoder.h"

#include "site/html/character_references.h"
#include "text/text_helpers.h"

namespace site {

namespace {

// The encoding the first bytes of a page tell, with how many bytes of mark
// to drop; Unknown while they cannot tell yet.
PageEncoding sniff(std::string_view head, bool end, size_t* markLength) {
  *markLength = 0;
  auto byte = [&](size_t i) { return static_cast<unsigned char>(head[i]); };
  if (head.empty()) return end ? PageEncoding::Bytes : PageEncoding::Unknown;
  if (byte(0) == 0xEF) {
    if (head.size() >= 2 && byte(1) != 0xBB) return PageEncoding::Bytes;
    if (head.size() < 3) return end ? PageEncoding::Bytes : PageEncoding::Unknown;
    if (byte(2) == 0xBF) *markLength = 3;
    return PageEncoding::Bytes;
  }
  if (byte(0) == 0xFE || byte(0) == 0xFF) {
    if (head.size() < 2) return end ? PageEncoding::Bytes : PageEncoding::Unknown;
    *markLength = 2;
    if (byte(0) == 0xFE && byte(1) == 0xFF) return PageEncoding::Utf16Be;
    if (byte(0) == 0xFF && byte(1) == 0xFE) return PageEncoding::Utf16Le;
    *markLength = 0;
  }
  return PageEncoding::Bytes;
}

void decodeUnit(PageDecoder& d, uint32_t unit, std::string* text) {
  if (d.lead != 0) {
    if (unit >= 0xDC00 && unit <= 0xDFFF) {
      appendUtf8(0x10000 + ((d.lead - 0xD800) << 10) + (unit - 0xDC00), text);
      d.lead = 0;
      return;
    }
    text->append(kReplacementCharacter);
    d.lead = 0;
  }
  if (unit < 0x80) {
    text->push_back(static_cast<char>(unit));
  } else if (unit >= 0xD800 && unit <= 0xDBFF) {
    d.lead = unit;
  } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
    text->append(kReplacementCharacter);
  } else {
    appendUtf8(unit, text);
  }
}

void decodeUtf16(PageDecoder& d, std::string_view bytes, std::string* text) {
  const bool little = d.encoding == PageEncoding::Utf16Le;
  size_t i = 0;
  auto unitOf = [&](unsigned first, unsigned second) {
    return little ? first | second << 8 : first << 8 | second;
  };
  if (d.oddByte >= 0 && !bytes.empty()) {
    decodeUnit(d, unitOf(unsigned(d.oddByte), static_cast<unsigned char>(bytes[0])), text);
    d.oddByte = -1;
    i = 1;
  }
  for (; i + 1 < bytes.size(); i += 2) {
    decodeUnit(
        d, unitOf(static_cast<unsigned char>(bytes[i]), static_cast<unsigned char>(bytes[i + 1])),
        text);
  }
  if (i < bytes.size()) d.oddByte = static_cast<unsigned char>(bytes[i]);
}

}  // namespace

void decodePage(PageDecoder& d, std::string_view bytes, bool end, std::string* text) {
  if (d.encoding == PageEncoding::Unknown) {
    d.head.append(bytes);
    size_t markLength = 0;
    d.encoding = sniff(d.head, end, &markLength);
    if (d.encoding == PageEncoding::Unknown) return;
    const std::string head = std::move(d.head);
    d.head.clear();
    decodePage(d, std::string_view(head).substr(markLength), end, text);
    return;
  }
  if (d.encoding == PageEncoding::Bytes) {
    text->append(bytes);
    return;
  }
  decodeUtf16(d, bytes, text);
  if (end && (d.lead != 0 || d.oddByte >= 0)) {
    text->append(kReplacementCharacter);
    d.lead = 0;
    d.oddByte = -1;
  }
}

}  // namespace site
