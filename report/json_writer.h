// A small streaming JSON writer for the console companion's report: objects, arrays, strings,
// unsigned and signed integers and booleans, indented two blanks per level. It writes into a
// std::string; the caller prints it. Keys and values are written in the order given.
//
// Texts are the program's own 8-bit texts, code page 1251. Their letters beyond ASCII are
// written as \u escapes of the characters they stand for, so the document is plain ASCII and
// therefore valid UTF-8, whatever code page the console or the reader assumes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vardelo {

class JsonWriter {
 public:
  JsonWriter& beginObject(std::string_view key = {});
  JsonWriter& endObject();
  JsonWriter& beginArray(std::string_view key = {});
  JsonWriter& endArray();
  // A short array on one line, e.g. a curve's points.
  JsonWriter& array(std::string_view key, const std::vector<std::uint64_t>& values);

  JsonWriter& value(std::string_view key, std::string_view text);
  JsonWriter& value(std::string_view key, const char* text) { return value(key, std::string_view(text)); }
  JsonWriter& value(std::string_view key, std::uint64_t number);
  JsonWriter& value(std::string_view key, std::int64_t number);
  JsonWriter& value(std::string_view key, std::uint32_t number) { return value(key, std::uint64_t{number}); }
  JsonWriter& value(std::string_view key, int number) { return value(key, std::int64_t{number}); }
  JsonWriter& value(std::string_view key, bool flag);
  JsonWriter& value(std::string_view key, double number);  // one decimal
  JsonWriter& null(std::string_view key);

  // The document so far; complete once every object and array is closed.
  const std::string& text() const { return out_; }

 private:
  void item(std::string_view key);  // separator, indentation and key of the next item
  void close(char bracket);
  void quoted(std::string_view text);

  std::string out_;
  std::vector<bool> hasItems_;  // one entry per open object or array
};

}  // namespace vardelo
