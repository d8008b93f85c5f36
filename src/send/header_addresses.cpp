// The addresses of an address header, read by the address grammar rather than by commas.
#include "send/header_addresses.h"

#include <string>

#include "base/text.h"

namespace qarvel {

namespace {

class AddressScanner {
public:
    explicit AddressScanner(std::vector<String>& out) : out_(out) {}

    void take(char c) {
        if (escaped_) {
            escaped_ = false;
            if (comment_ == 0) target() += c;
            return;
        }
        if (comment_ > 0) {
            if (c == '\\') escaped_ = true;
            else if (c == '(') ++comment_;
            else if (c == ')') --comment_;
            return;
        }
        if (quoted_) {
            if (c == '\\') escaped_ = true;
            else if (c == '"') quoted_ = false;
            target() += c;
            return;
        }
        switch (c) {
        case '"':
            quoted_ = true;
            target() += c;
            return;
        case '(':
            comment_ = 1;
            return;
        case '<':
            inAngle_ = sawAngle_ = true;
            angle_.clear();
            return;
        case '>':
            inAngle_ = false;
            return;
        default:
            break;
        }
        if (inAngle_) {
            if (!isSpace(c)) angle_ += c;
            return;
        }
        if (c == ',' || c == ';') {
            finish();
        } else if (c == ':') {
            plain_.clear();  // the name of a group
        } else if (!isSpace(c)) {
            plain_ += c;
        }
    }

    void finish() {
        std::string address = sawAngle_ ? angle_ : plain_;
        // A source route ("<@relay.example:ann@example.org>") is not part of the address.
        if (sawAngle_ && !address.empty() && address.front() == '@') {
            size_t colon = address.find(':');
            address = colon == std::string::npos ? std::string() : address.substr(colon + 1);
        }
        if (!address.empty()) out_.push_back(String(address));
        plain_.clear();
        angle_.clear();
        inAngle_ = sawAngle_ = false;
    }

private:
    std::string& target() { return inAngle_ ? angle_ : plain_; }

    std::vector<String>& out_;
    std::string plain_, angle_;
    int comment_ = 0;
    bool quoted_ = false, escaped_ = false, inAngle_ = false, sawAngle_ = false;
};

} // namespace

std::vector<String> headerAddresses(std::string_view value) {
    std::vector<String> out;
    AddressScanner scanner(out);
    for (char c : value) scanner.take(c);
    scanner.finish();
    return out;
}

} // namespace qarvel
