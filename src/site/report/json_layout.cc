#include "site/report/json_layout.h"

#include <nlohmann/json.hpp>

#include "site/report/utf8_repair.h"

namespace site {

namespace {

// What dump(2) writes before a value: after the first member a comma, then a
// line end and two spaces per open level, then the key.
void startValue(JsonLayout* layout, std::string_view key) {
  if (layout->open.empty()) return;
  JsonLayout::Level& parent = layout->open.back();
  layout->text += parent.filled ? ",\n" : "\n";
  parent.filled = true;
  layout->text.append(2 * layout->open.size(), ' ');
  if (!key.empty()) {
    layout->text += '"';
    layout->text += key;
    layout->text += "\": ";
  }
}

}  // namespace

std::string jsonQuoted(std::string_view text) {
  // The text is repaired first; replacing on dump is a second guard, so
  // that no path through here can throw or write a bad byte.
  return nlohmann::json(repairUtf8(text))
      .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void jsonOpen(JsonLayout* layout, std::string_view key, char bracket) {
  startValue(layout, key);
  layout->text += bracket;
  layout->open.push_back({bracket == '{' ? '}' : ']', false});
}

void jsonClose(JsonLayout* layout) {
  if (layout->open.empty()) return;
  const JsonLayout::Level level = layout->open.back();
  layout->open.pop_back();
  if (level.filled) {
    layout->text += '\n';
    layout->text.append(2 * layout->open.size(), ' ');
  }
  layout->text += level.close;
}

void jsonRaw(JsonLayout* layout, std::string_view key, std::string_view json) {
  startValue(layout, key);
  layout->text += json;
}

void jsonString(JsonLayout* layout, std::string_view key, std::string_view text) {
  jsonRaw(layout, key, jsonQuoted(text));
}

void jsonNumber(JsonLayout* layout, std::string_view key, uint64_t number) {
  jsonRaw(layout, key, std::to_string(number));
}

}  // namespace site
