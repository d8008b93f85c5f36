// The send driver: checks, body gathering, server choice, connect with retries, login,
// the message copies with their status lines, ETRN.
#pragma once

#include <functional>
#include <utility>
#include <vector>

#include "base/string.h"

namespace qarvel {

class SenderSession;

// Runs one sending activity from settings() with processObjects().currentSender.
// Returns the exit code: 0 on success, 1 on any failure.
int runSendDriver();

// Hooks for the paths that other parts supply: direct MX delivery (route the first
// recipient's domain; returns the ordered exchanger hosts, or fills error and returns empty),
// and the batch sender of ready-made messages.
struct SendDriverHooks {
    // Returns hosts with their preferences in order; an empty result stops the run after
    // the hook has printed its message.
    std::function<int(const String& domain, std::vector<std::pair<String, int>>& exchangers)> routeDomain;
    std::function<int(SenderSession& sender, const String& text)> sendBatch;
    // Writes the head of the CGI result page (after the driver ended the response headers).
    std::function<void()> writeCgiHead;
};
SendDriverHooks& sendDriverHooks();

} // namespace qarvel
