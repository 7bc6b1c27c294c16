#include "startup/json_writer.h"

#include <cstddef>
#include <cstdio>

#include "platform/visible_text.h"

namespace quarnel {
namespace {

void AppendEscape(std::string& out, char32_t point) {
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(point));
    out += escape;
}

}  // namespace

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (std::size_t at = 0; at < text.size();) {
        char32_t point = 0;
        const std::size_t length = Utf8Sequence(text.substr(at), point);
        if (length == 0) {
            out += "\\ufffd";
            ++at;
            continue;
        }
        if (point == '"' || point == '\\') {
            out += '\\';
            out += static_cast<char>(point);
        } else if (point == '\n') {
            out += "\\n";
        } else if (point == '\t') {
            out += "\\t";
        } else if (point < 0x20 || (point >= 0x7F && point <= 0x9F) || point == 0x2028 ||
                   point == 0x2029) {
            AppendEscape(out, point);
        } else {
            out.append(text.substr(at, length));
        }
        at += length;
    }
    return out + "\"";
}

void JsonWriter::BeforeValue() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (!empty_.empty()) {
        text_ += empty_.back() ? "\n" : ",\n";
        empty_.back() = false;
        text_.append(2 * empty_.size(), ' ');
    }
}

void JsonWriter::Close(char bracket) {
    const bool wasEmpty = empty_.back();
    empty_.pop_back();
    if (!wasEmpty) {
        text_ += '\n';
        text_.append(2 * empty_.size(), ' ');
    }
    text_ += bracket;
}

void JsonWriter::BeginObject() {
    BeforeValue();
    text_ += '{';
    empty_.push_back(true);
}

void JsonWriter::EndObject() {
    Close('}');
}

void JsonWriter::BeginArray() {
    BeforeValue();
    text_ += '[';
    empty_.push_back(true);
}

void JsonWriter::EndArray() {
    Close(']');
}

void JsonWriter::Key(std::string_view name) {
    BeforeValue();
    text_ += JsonString(name) + ": ";
    afterKey_ = true;
}

void JsonWriter::String(std::string_view text) {
    BeforeValue();
    text_ += JsonString(text);
}

void JsonWriter::Number(std::int64_t number) {
    BeforeValue();
    text_ += std::to_string(number);
}

void JsonWriter::Boolean(bool value) {
    BeforeValue();
    text_ += value ? "true" : "false";
}

void JsonWriter::Null() {
    BeforeValue();
    text_ += "null";
}

std::string JsonWriter::Text() const {
    return text_ + "\n";
}

}  // namespace quarnel
