#include "site/net/http_answer.h"

#include <array>
#include <string>

namespace site {

namespace {

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

char lowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  }
  return true;
}

// Reads exactly count digits at *pos.
bool readDigits(std::string_view text, size_t* pos, size_t count, int* value) {
  if (*pos + count > text.size()) return false;
  int number = 0;
  for (size_t i = 0; i < count; ++i) {
    const char c = text[*pos + i];
    if (!isDigit(c)) return false;
    number = number * 10 + (c - '0');
  }
  *pos += count;
  *value = number;
  return true;
}

bool expect(std::string_view text, size_t* pos, char c) {
  if (*pos >= text.size() || text[*pos] != c) return false;
  ++*pos;
  return true;
}

// A month's three-letter name, 1 to 12.
bool readMonth(std::string_view text, size_t* pos, int* month) {
  static constexpr std::array<std::string_view, 12> kMonths = {
      "jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};
  if (*pos + 3 > text.size()) return false;
  for (size_t i = 0; i < kMonths.size(); ++i) {
    if (equalIgnoringCase(text.substr(*pos, 3), kMonths[i])) {
      *month = int(i) + 1;
      *pos += 3;
      return true;
    }
  }
  return false;
}

// "08:49:37"
bool readTime(std::string_view text, size_t* pos, int* hour, int* minute, int* second) {
  return readDigits(text, pos, 2, hour) && expect(text, pos, ':') &&
         readDigits(text, pos, 2, minute) && expect(text, pos, ':') &&
         readDigits(text, pos, 2, second);
}

// Days from 1970-01-01 to the given date of the proleptic Gregorian
// calendar.
int64_t daysFromCivil(int64_t year, int month, int day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

bool makeTime(int year, int month, int day, int hour, int minute, int second, int64_t* out) {
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) {
    return false;
  }
  *out = daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
  return true;
}

struct ReasonPhrase {
  int status;
  const char* phrase;
};

// The phrases HTTP's standards give, by status.
constexpr ReasonPhrase kReasonPhrases[] = {
    {100, "Continue"},
    {101, "Switching Protocols"},
    {103, "Early Hints"},
    {200, "OK"},
    {201, "Created"},
    {202, "Accepted"},
    {203, "Non-Authoritative Information"},
    {204, "No Content"},
    {205, "Reset Content"},
    {206, "Partial Content"},
    {300, "Multiple Choices"},
    {301, "Moved Permanently"},
    {302, "Found"},
    {303, "See Other"},
    {304, "Not Modified"},
    {305, "Use Proxy"},
    {307, "Temporary Redirect"},
    {308, "Permanent Redirect"},
    {400, "Bad Request"},
    {401, "Unauthorized"},
    {402, "Payment Required"},
    {403, "Forbidden"},
    {404, "Not Found"},
    {405, "Method Not Allowed"},
    {406, "Not Acceptable"},
    {407, "Proxy Authentication Required"},
    {408, "Request Timeout"},
    {409, "Conflict"},
    {410, "Gone"},
    {411, "Length Required"},
    {412, "Precondition Failed"},
    {413, "Content Too Large"},
    {414, "URI Too Long"},
    {415, "Unsupported Media Type"},
    {416, "Range Not Satisfiable"},
    {417, "Expectation Failed"},
    {421, "Misdirected Request"},
    {422, "Unprocessable Content"},
    {425, "Too Early"},
    {426, "Upgrade Required"},
    {428, "Precondition Required"},
    {429, "Too Many Requests"},
    {431, "Request Header Fields Too Large"},
    {451, "Unavailable For Legal Reasons"},
    {500, "Internal Server Error"},
    {501, "Not Implemented"},
    {502, "Bad Gateway"},
    {503, "Service Unavailable"},
    {504, "Gateway Timeout"},
    {505, "HTTP Version Not Supported"},
    {506, "Variant Also Negotiates"},
    {510, "Not Extended"},
    {511, "Network Authentication Required"},
};

}  // namespace

const char* statusReasonPhrase(int status) {
  for (const ReasonPhrase& entry : kReasonPhrases) {
    if (entry.status == status) return entry.phrase;
  }
  return "";
}

bool parseHttpDate(std::string_view text, int64_t* unixSeconds) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  const size_t comma = text.find(',');
  size_t pos = 0;
  if (comma != std::string_view::npos) {
    pos = comma + 1;
    if (!expect(text, &pos, ' ') || !readDigits(text, &pos, 2, &day)) return false;
    if (pos < text.size() && text[pos] == ' ') {
      // IMF-fixdate: "Sun, 06 Nov 1994 08:49:37 GMT"
      ++pos;
      if (!readMonth(text, &pos, &month) || !expect(text, &pos, ' ') ||
          !readDigits(text, &pos, 4, &year)) {
        return false;
      }
    } else {
      // RFC 850: "Sunday, 06-Nov-94 08:49:37 GMT"; a two-digit year is
      // taken within fifty years of now, roughly: 70 and later are 19xx.
      if (!expect(text, &pos, '-') || !readMonth(text, &pos, &month) || !expect(text, &pos, '-') ||
          !readDigits(text, &pos, 2, &year)) {
        return false;
      }
      year += year >= 70 ? 1900 : 2000;
    }
    if (!expect(text, &pos, ' ') || !readTime(text, &pos, &hour, &minute, &second) ||
        text.substr(pos) != " GMT") {
      return false;
    }
  } else {
    // asctime: "Sun Nov  6 08:49:37 1994"
    pos = 3;
    if (!expect(text, &pos, ' ') || !readMonth(text, &pos, &month) || !expect(text, &pos, ' ')) {
      return false;
    }
    if (pos < text.size() && text[pos] == ' ') {
      ++pos;
      if (!readDigits(text, &pos, 1, &day)) return false;
    } else if (!readDigits(text, &pos, 2, &day)) {
      return false;
    }
    if (!expect(text, &pos, ' ') || !readTime(text, &pos, &hour, &minute, &second) ||
        !expect(text, &pos, ' ') || !readDigits(text, &pos, 4, &year) || pos != text.size()) {
      return false;
    }
  }
  return makeTime(year, month, day, hour, minute, second, unixSeconds);
}

bool parseRetryAfter(std::string_view value, int64_t nowUnix, int64_t* waitSeconds) {
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
  if (value.empty()) return false;
  if (isDigit(value.front())) {
    int64_t seconds = 0;
    for (const char c : value) {
      if (!isDigit(c)) return false;
      // Anything past a year is as good as for ever.
      if (seconds < 366 * 86400) seconds = seconds * 10 + (c - '0');
    }
    *waitSeconds = seconds;
    return true;
  }
  int64_t when = 0;
  if (!parseHttpDate(value, &when)) return false;
  *waitSeconds = when > nowUnix ? when - nowUnix : 0;
  return true;
}

bool isHtmlContentType(std::string_view contentType) {
  std::string_view type = contentType.substr(0, contentType.find(';'));
  while (!type.empty() && (type.front() == ' ' || type.front() == '\t')) type.remove_prefix(1);
  while (!type.empty() && (type.back() == ' ' || type.back() == '\t')) type.remove_suffix(1);
  return type.empty() || equalIgnoringCase(type, "text/html") ||
         equalIgnoringCase(type, "application/xhtml+xml");
}

}  // namespace site
