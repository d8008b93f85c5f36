#include "net/failure_cause.h"

#include <algorithm>

#include "net/socket.h"
#include "net/winsock_error.h"

namespace qarvel {

using namespace std::string_view_literals;

namespace {

Failure winsockFailure(int error) {
    switch (error) {
    case kWsaHostNotFound:
    case kWsaNoData:
    case kWsaNoRecovery: return Failure::kHostNotFound;
    case kWsaConnectionRefused:
    case kWsaNetworkUnreachable:
    case kWsaHostUnreachable: return Failure::kUnreachable;
    default: return Failure::kTemporary;  // time-outs, resets, a resolver that asks to try again
    }
}

// The reply's status word: its first word, or for IMAP the word after the tag ("a1 NO ...",
// "* BYE ...").
std::string_view statusWord(std::string_view reply, ReplyCodes codes) {
    if (codes == ReplyCodes::kImap) {
        const size_t blank = reply.find(' ');
        reply.remove_prefix(blank == std::string_view::npos ? reply.size() : blank + 1);
    }
    return reply.substr(0, std::min(reply.find_first_of(" \r\n"), reply.size()));
}

// The verdict of a reply line alone: kNone when it says neither "later" nor "no".
Failure replyVerdict(std::string_view reply, ReplyCodes codes) {
    const std::string_view word = statusWord(reply, codes);
    if (codes == ReplyCodes::kNews) {
        if (word.size() != 3 || (word[0] != '4' && word[0] != '5')) return Failure::kNone;
        if (word == "400"sv || word == "403"sv) return Failure::kTemporary;
        if (word[0] == '4') return word[1] == '8' ? Failure::kLogin : Failure::kUnavailable;
        return word == "502"sv ? Failure::kUnavailable : Failure::kProtocol;
    }
    for (std::string_view later : {"[IN-USE]", "[SYS/TEMP]", "[UNAVAILABLE]"})
        if (reply.find(later) != std::string_view::npos) return Failure::kTemporary;
    if (word.empty()) return Failure::kNone;
    if (word[0] == '4') return Failure::kTemporary;
    if (word[0] == '5' || word == "-ERR"sv || word == "NO"sv || word == "BAD"sv) return Failure::kUnavailable;
    return Failure::kNone;
}

}  // namespace

Failure networkFailure(int code, std::string_view reply, bool closed, ReplyCodes codes) {
    if (code < -1) return winsockFailure(-code);
    if (const Failure verdict = replyVerdict(reply, codes); verdict != Failure::kNone) return verdict;
    return closed ? Failure::kTemporary : Failure::kProtocol;
}

Failure sessionFailure(const Socket& session, int result, std::string_view reply, ReplyCodes codes) {
    if (session.tlsFailed()) return Failure::kProtocol;
    return networkFailure(session.failureCode(result), reply, !session.isOpen(), codes);
}

Failure atLogin(const Socket& session, Failure cause) {
    if (session.tlsFailed()) return cause;
    return cause == Failure::kUnavailable || cause == Failure::kProtocol ? Failure::kLogin : cause;
}

}  // namespace qarvel
