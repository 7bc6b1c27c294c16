#pragma once

// Writing one JSON document (RFC 8259), indented by two blanks per level. Every text is given
// as UTF-8 and written as a valid JSON string whatever its bytes: quotes, backslashes and every
// control character (C0, DEL, C1) are escaped, so are U+2028 and U+2029, and each byte that is
// not part of well-formed UTF-8 becomes U+FFFD.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quarnel {

// The text as a JSON string, quotes included.
std::string JsonString(std::string_view text);

class JsonWriter {
  public:
    void BeginObject();
    void EndObject();
    void BeginArray();
    void EndArray();
    // The name of the next member of the open object.
    void Key(std::string_view name);
    void String(std::string_view text);
    void Number(std::int64_t number);
    void Boolean(bool value);
    void Null();

    // The document, with a line feed at its end.
    std::string Text() const;

  private:
    void BeforeValue();
    void Close(char bracket);

    std::string text_;
    std::vector<bool> empty_;  // per open object or array: nothing in it yet
    bool afterKey_ = false;
};

}  // namespace quarnel
