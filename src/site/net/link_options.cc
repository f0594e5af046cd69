#include "site/net/link_options.h"

#include <limits>

#include "text/text_helpers.h"

namespace site {

namespace {

// A run of digits into *value; false when it is empty, holds anything else
// or exceeds limit.
bool readNumber(std::string_view digits, int64_t limit, int64_t* value) {
  if (digits.empty()) return false;
  int64_t number = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + (c - '0');
    if (number > limit) return false;
  }
  *value = number;
  return true;
}

// The token characters a header name is made of.
bool isTokenChar(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  switch (c) {
    case '!':
    case '#':
    case '$':
    case '%':
    case '&':
    case '\'':
    case '*':
    case '+':
    case '-':
    case '.':
    case '^':
    case '_':
    case '`':
    case '|':
    case '~':
      return true;
    default:
      return false;
  }
}

}  // namespace

bool parseAcceptList(std::string_view text, AcceptList* accept, std::string* error) {
  AcceptList parsed;
  std::string_view rest = text;
  for (;;) {
    const size_t comma = rest.find(',');
    const std::string_view item = rest.substr(0, comma);
    const size_t dash = item.find('-');
    int64_t low = 0;
    int64_t high = 0;
    bool read = false;
    if (dash == std::string_view::npos) {
      read = readNumber(item, 999, &low);
      high = low;
    } else {
      read = readNumber(item.substr(0, dash), 999, &low) &&
             readNumber(item.substr(dash + 1), 999, &high);
    }
    if (!read) {
      *error = quoted(item) + " in " + quoted(text) +
               " is not a status or a range of statuses (e.g. 200-299,403)";
      return false;
    }
    if (low < 100 || high > 599 || low > 599 || high < 100) {
      *error = quoted(item) + " in " + quoted(text) + " is not a status from 100 to 599";
      return false;
    }
    if (high < low) {
      *error = "the range " + quoted(item) + " in " + quoted(text) + " ends before it starts";
      return false;
    }
    parsed.ranges.emplace_back(int(low), int(high));
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  *accept = std::move(parsed);
  return true;
}

bool acceptsStatus(const AcceptList& accept, int status) {
  if (accept.ranges.empty()) return status >= 200 && status <= 299;
  for (const auto& [low, high] : accept.ranges) {
    if (status >= low && status <= high) return true;
  }
  return false;
}

bool parseDuration(std::string_view text, int64_t* seconds, std::string* error) {
  int64_t unit = 0;
  if (!text.empty()) {
    switch (text.back()) {
      case 's':
        unit = 1;
        break;
      case 'm':
        unit = 60;
        break;
      case 'h':
        unit = 3600;
        break;
      case 'd':
        unit = 86400;
        break;
      default:
        break;
    }
  }
  int64_t number = 0;
  // Up to a hundred years: enough for a cache, and no sum with a clock
  // overflows.
  const int64_t limit = int64_t(100) * 366 * 86400;
  if (unit == 0 || !readNumber(text.substr(0, text.size() - 1), limit, &number) ||
      number * unit > limit) {
    *error = quoted(text) + " is not a duration (a whole number and s, m, h or d: 30m, 12h, 7d)";
    return false;
  }
  *seconds = number * unit;
  return true;
}

bool parseHeaderOption(std::string_view text, HeaderOption* header, std::string* error) {
  const size_t colon = text.find(':');
  const std::string_view name = text.substr(0, colon);
  if (colon == std::string_view::npos || name.empty()) {
    *error = quoted(text) + " is not a header (NAME:VALUE)";
    return false;
  }
  for (const char c : name) {
    if (!isTokenChar(c)) {
      *error = quoted(name) + " is not a header name";
      return false;
    }
  }
  std::string_view value = text.substr(colon + 1);
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
  for (const char c : value) {
    const unsigned char u = static_cast<unsigned char>(c);
    if ((u < 0x20 && c != '\t') || u == 0x7F) {
      *error = "the value of the header " + quoted(name) + " holds a control character";
      return false;
    }
  }
  header->name = std::string(name);
  header->value = std::string(value);
  return true;
}

std::string headerLine(const HeaderOption& header) {
  return header.name + ": " + header.value;
}

}  // namespace site
