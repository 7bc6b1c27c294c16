#include "platform/dhcp_lease_parsers.h"

#include <cstddef>
#include <utility>
#include <vector>

namespace quarnel {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// Checks a domain found in a lease and fills the answer from it.
void TakeDomain(std::string_view domain, LeaseDomain& answer) {
    if (domain.empty()) {
        return;
    }
    if (!IsAcceptableDomainName(domain)) {
        answer.problem = "the lease's domain name holds characters a domain cannot have";
        return;
    }
    answer.domain = std::string(domain);
}

// Tokens of the dhclient lease syntax: punctuation, quoted strings (escapes decoded) and words.
struct Token {
    enum Kind { Word, String, Open, Close, End } kind = Word;
    std::string text;
};

class DhclientTokenizer {
  public:
    explicit DhclientTokenizer(std::string_view text) : text_(text) {}

    // False on a broken token (an unterminated string).
    bool Next(Token& token, bool& atEnd) {
        SkipBlanksAndComments();
        atEnd = at_ >= text_.size();
        if (atEnd) {
            return true;
        }
        const char c = text_[at_];
        token.text.clear();
        if (c == '{' || c == '}' || c == ';') {
            token.kind = c == '{' ? Token::Open : c == '}' ? Token::Close : Token::End;
            ++at_;
            return true;
        }
        if (c == '"') {
            token.kind = Token::String;
            return ReadString(token.text);
        }
        token.kind = Token::Word;
        while (at_ < text_.size() && !IsBlank(text_[at_]) && text_[at_] != '{' &&
               text_[at_] != '}' && text_[at_] != ';' && text_[at_] != '"' && text_[at_] != '#') {
            token.text += text_[at_++];
        }
        return true;
    }

  private:
    void SkipBlanksAndComments() {
        while (at_ < text_.size()) {
            if (IsBlank(text_[at_])) {
                ++at_;
            } else if (text_[at_] == '#') {
                while (at_ < text_.size() && text_[at_] != '\n') {
                    ++at_;
                }
            } else {
                break;
            }
        }
    }

    static bool IsOctal(char c) { return c >= '0' && c <= '7'; }

    bool ReadString(std::string& out) {
        ++at_;  // the opening quote
        while (at_ < text_.size()) {
            const char c = text_[at_++];
            if (c == '"') {
                return true;
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_ >= text_.size()) {
                return false;
            }
            if (at_ + 2 < text_.size() && IsOctal(text_[at_]) && IsOctal(text_[at_ + 1]) &&
                IsOctal(text_[at_ + 2])) {
                const int value =
                    (text_[at_] - '0') * 64 + (text_[at_ + 1] - '0') * 8 + (text_[at_ + 2] - '0');
                out += static_cast<char>(value & 0xFF);
                at_ += 3;
            } else {
                out += text_[at_++];
            }
        }
        return false;
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

}  // namespace

bool IsAcceptableDomainName(std::string_view text) {
    if (text.empty() || text.size() > 253) {
        return false;
    }
    for (const char c : text) {
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        const bool digit = c >= '0' && c <= '9';
        if (!letter && !digit && c != '-' && c != '_' && c != '.') {
            return false;
        }
    }
    return true;
}

LeaseDomain ParseKeyValueLease(std::string_view text) {
    LeaseDomain answer;
    std::string_view domain;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        const std::string_view line = Trim(text.substr(at, end - at));
        at = end + 1;
        if (line.empty() || line.front() == '#') {
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos || equals == 0 ||
            line.find('\0') != std::string_view::npos) {
            answer.problem = "a line is not of the form KEY=VALUE";
            return answer;
        }
        if (Trim(line.substr(0, equals)) == "DOMAINNAME") {
            domain = Trim(line.substr(equals + 1));
            if (domain.size() >= 2 && domain.front() == '"' && domain.back() == '"') {
                domain = domain.substr(1, domain.size() - 2);
            }
        }
    }
    answer.wellFormed = true;
    answer.leaseFound = true;
    TakeDomain(domain, answer);
    return answer;
}

LeaseDomain ParseDhclientLeases(std::string_view text, std::string_view interfaceName) {
    LeaseDomain answer;
    if (text.find('\0') != std::string_view::npos) {
        answer.problem = "the file holds zero bytes";
        return answer;
    }
    DhclientTokenizer tokenizer(text);
    // Depth 0: top level; 1: inside a lease block; deeper: a nested block being skipped.
    int depth = 0;
    bool inLease = false;
    std::vector<Token> statement;
    std::string leaseInterface;
    std::string leaseDomain;
    bool found = false;
    std::string foundDomain;

    while (true) {
        Token token;
        bool atEnd = false;
        if (!tokenizer.Next(token, atEnd)) {
            answer.problem = "a quoted text is not terminated";
            return answer;
        }
        if (atEnd) {
            break;
        }
        switch (token.kind) {
            case Token::Open:
                if (depth == 0 && statement.size() == 1 && statement[0].kind == Token::Word &&
                    statement[0].text == "lease") {
                    inLease = true;
                    leaseInterface.clear();
                    leaseDomain.clear();
                }
                statement.clear();
                ++depth;
                break;
            case Token::Close:
                if (depth == 0) {
                    answer.problem = "a block is closed that was never opened";
                    return answer;
                }
                --depth;
                statement.clear();
                if (depth == 0 && inLease) {
                    inLease = false;
                    if (leaseInterface == interfaceName) {
                        found = true;
                        foundDomain = leaseDomain;
                    }
                }
                break;
            case Token::End:
                if (inLease && depth == 1 && statement.size() >= 2) {
                    if (statement[0].kind == Token::Word && statement[0].text == "interface" &&
                        statement[1].kind == Token::String) {
                        leaseInterface = statement[1].text;
                    } else if (statement.size() == 3 && statement[0].text == "option" &&
                               statement[1].text == "domain-name" &&
                               statement[2].kind == Token::String) {
                        leaseDomain = statement[2].text;
                    }
                }
                statement.clear();
                break;
            case Token::Word:
            case Token::String:
                // A statement of thousands of tokens is no lease; stop it from growing.
                if (statement.size() < 64) {
                    statement.push_back(std::move(token));
                }
                break;
        }
    }
    if (depth != 0) {
        answer.problem = "the file ends inside a block";
        return answer;
    }
    answer.wellFormed = true;
    answer.leaseFound = found;
    if (found) {
        TakeDomain(foundDomain, answer);
    }
    return answer;
}

}  // namespace quarnel
