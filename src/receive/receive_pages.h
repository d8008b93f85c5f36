// The pages a receive run writes instead of its plain display when it serves a web request.
// The receive driver calls these at fixed points; the web-mail site supplies them.
#pragma once

namespace qarvel {

class MailboxReader;

class ReceivePages {
public:
    virtual ~ReceivePages() = default;
    // Right after the login: a request answered with a file is served here, and the run
    // ends (returns true).
    virtual bool serveAfterLogin(MailboxReader& reader) = 0;
    // Once the message count is known, before the message loop.
    virtual void showMailbox(int count, MailboxReader& reader) = 0;
    // One retrieved message (counter is the running number, n the message number), in place
    // of the plain display; the page also saves the message's attachments itself.
    virtual void showMessage(int counter, int n, MailboxReader& reader) = 0;
};

} // namespace qarvel
