// The web-mail site as the entry runs it: the request body before the run, the receive run
// with its pages, and the send run with its result page. Errors that the drivers write to
// standard error are shown in the page (escaped) instead of getting lost in the web
// server's log.
#pragma once

#include <functional>

#include "receive/receive_options.h"

namespace qarvel {

struct Settings;
struct ProcessObjects;
class MailboxReader;
class SenderSession;

// Reads the form body of a web request (upload or url-encoded). Returns 1 to go on; 0 when
// the body was refused (the page saying so is written).
int readCgiBody(Settings& s, ProcessObjects& objects);

// One receive run as web pages (authentication, page head, the driver, trailer).
int runWebReceive(Settings& s, ProcessObjects& objects, ReceiveOptions options, MailboxReader& reader,
                  SenderSession* sender);

// One send run behind the result page; driver runs the send driver, which calls writeHead
// (set here while it runs) once the response headers are out.
int runWebSend(Settings& s, std::function<void()>& writeHead, const std::function<int()>& driver);

} // namespace qarvel
