#include "report/json_writer.h"

#include <cstdio>

#include "core/text_1251.h"

namespace vardelo {

void JsonWriter::item(std::string_view key) {
  if (!hasItems_.empty()) {
    if (hasItems_.back()) out_ += ',';
    hasItems_.back() = true;
    out_ += '\n';
    out_.append(2 * hasItems_.size(), ' ');
  }
  if (!key.empty()) {
    quoted(key);
    out_ += ": ";
  }
}

void JsonWriter::close(char bracket) {
  const bool any = hasItems_.back();
  hasItems_.pop_back();
  if (any) {
    out_ += '\n';
    out_.append(2 * hasItems_.size(), ' ');
  }
  out_ += bracket;
}

void JsonWriter::quoted(std::string_view text) {
  out_ += '"';
  for (unsigned char c : text) {
    switch (c) {
      case '"': out_ += "\\\""; break;
      case '\\': out_ += "\\\\"; break;
      case '\n': out_ += "\\n"; break;
      case '\t': out_ += "\\t"; break;
      default:
        // Control characters, and the code page's letters as the characters they stand for:
        // the document stays ASCII, valid UTF-8 whatever reads it.
        if (c < 0x20 || c >= 0x80) {
          char esc[8];
          std::snprintf(esc, sizeof esc, "\\u%04x", static_cast<unsigned>(charFrom1251(c)));
          out_ += esc;
        } else {
          out_ += static_cast<char>(c);
        }
    }
  }
  out_ += '"';
}

JsonWriter& JsonWriter::beginObject(std::string_view key) {
  item(key);
  out_ += '{';
  hasItems_.push_back(false);
  return *this;
}

JsonWriter& JsonWriter::endObject() {
  close('}');
  return *this;
}

JsonWriter& JsonWriter::beginArray(std::string_view key) {
  item(key);
  out_ += '[';
  hasItems_.push_back(false);
  return *this;
}

JsonWriter& JsonWriter::endArray() {
  close(']');
  return *this;
}

JsonWriter& JsonWriter::array(std::string_view key, const std::vector<std::uint64_t>& values) {
  item(key);
  out_ += '[';
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i) out_ += ", ";
    out_ += std::to_string(values[i]);
  }
  out_ += ']';
  return *this;
}

JsonWriter& JsonWriter::value(std::string_view key, std::string_view text) {
  item(key);
  quoted(text);
  return *this;
}

JsonWriter& JsonWriter::value(std::string_view key, std::uint64_t number) {
  item(key);
  out_ += std::to_string(number);
  return *this;
}

JsonWriter& JsonWriter::value(std::string_view key, std::int64_t number) {
  item(key);
  out_ += std::to_string(number);
  return *this;
}

JsonWriter& JsonWriter::value(std::string_view key, bool flag) {
  item(key);
  out_ += flag ? "true" : "false";
  return *this;
}

JsonWriter& JsonWriter::value(std::string_view key, double number) {
  item(key);
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", number);
  // A difference of two clock readings can come out a hair below zero: no "-0.0".
  out_ += std::string_view(text) == "-0.0" ? "0.0" : text;
  return *this;
}

JsonWriter& JsonWriter::null(std::string_view key) {
  item(key);
  out_ += "null";
  return *this;
}

}  // namespace vardelo
