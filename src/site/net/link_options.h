// The values of the external-link options, read from their text on the
// command line: the statuses that count as working (--accept), durations
// (--cache-age) and extra headers (--header). Each parser is a plain
// function that says what is wrong in a phrase the usage error can quote.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace site {

// Statuses that count as working: inclusive ranges, in the order given;
// none is the default, 200-299.
struct AcceptList {
  std::vector<std::pair<int, int>> ranges;
};

// "200-299,403": statuses (100 to 599) and ranges of them, separated by
// commas. False with *error on an empty item, a status out of range, a
// range whose end is below its start, or anything else.
bool parseAcceptList(std::string_view text, AcceptList* accept, std::string* error);

// Whether status is one of accept's.
bool acceptsStatus(const AcceptList& accept, int status);

// "30m", "12h", "7d", "90s": a whole number with its unit (s, m, h or d)
// into seconds. False with *error on a missing or unknown unit, a missing
// number, or one too large to be a time.
bool parseDuration(std::string_view text, int64_t* seconds, std::string* error);

struct HeaderOption {
  std::string name;
  std::string value;
};

// "NAME:VALUE": a header name (the token characters of HTTP), a colon and
// a value, whose surrounding blanks are dropped. False with *error on an
// empty or ill-formed name, or a value holding a line break or another
// control character (which would smuggle a header in).
bool parseHeaderOption(std::string_view text, HeaderOption* header, std::string* error);

// "Name: value", as a request carries it.
std::string headerLine(const HeaderOption& header);

}  // namespace site
