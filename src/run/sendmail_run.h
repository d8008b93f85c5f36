// The system's sendmail: the program called as "sendmail" (/usr/sbin/sendmail of the
// qarvel-mta package) or with -sendmail first reads one message from standard input and hands
// it to the configured relay, or keeps it in ~/dead.letter.
#pragma once

namespace qarvel {

// True when the program's name is "sendmail" or its first argument is -sendmail.
bool isSendmailInvocation(int argc, char** argv);

// Runs the sendmail front end; returns the exit status: 0 sent, 64 a command line it does
// not take, 75 not handed over (kept in dead.letter), the cause's status of a refusal.
int runSendmail(int argc, char** argv);

} // namespace qarvel
