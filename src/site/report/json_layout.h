// JSON written a piece at a time, laid out byte for byte as nlohmann-json's
// dump(2) lays out a whole document (two spaces a level, "key": value, an
// empty object or array as {} or []), so that the json and sarif reports
// stream out in the layout they always had without a document of the whole
// report being built.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace site {

struct JsonLayout {
  // Written and not yet taken: a writer hands it to its sink (and clears it)
  // whenever it likes; the layout does not depend on it.
  std::string text;
  struct Level {
    char close;   // '}' or ']'
    bool filled;  // a member or element has been written
  };
  std::vector<Level> open;  // the objects and arrays open, outermost first
};

// text, with bytes that are not UTF-8 replaced by U+FFFD, as a JSON string
// in quotes, escaped as dump() escapes it.
std::string jsonQuoted(std::string_view text);

// Each of these writes one value: inside an object as the member key (plain
// ASCII that needs no escaping), inside an array or at the top with key
// empty.

// Opens an object ('{') or array ('['), to be closed by jsonClose().
void jsonOpen(JsonLayout* layout, std::string_view key, char bracket);
// Closes the innermost object or array. Does nothing when none is open.
void jsonClose(JsonLayout* layout);
// A value written already as JSON (a number, a jsonQuoted() string).
void jsonRaw(JsonLayout* layout, std::string_view key, std::string_view json);
void jsonString(JsonLayout* layout, std::string_view key, std::string_view text);
void jsonNumber(JsonLayout* layout, std::string_view key, uint64_t number);

}  // namespace site
