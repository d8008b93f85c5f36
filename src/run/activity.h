// The main activity of a run: the settings handed to the chosen sender or reader, then the
// send driver or the receive driver.
#pragma once

namespace qarvel {

struct Settings;
struct ProcessObjects;

// The alternative-text file, the hand-over to the current sender, the alias and list files,
// the receive-side recipients and the default domain.
void prepareActivity(Settings& s, ProcessObjects& objects);

// Reading is wanted with a user name (or a certificate at security level 2, or an
// authenticated web session), unless the run uploads, imports or has a sender address.
bool readingWanted(const Settings& s);

// prepareActivity, then the receive driver or the send driver; returns the exit code.
int runMainActivity(Settings& s, ProcessObjects& objects);

// The drivers as a run calls them: their options filled from settings(), with
// processObjects()'s current sender or reader.
int runSendDriver();
int runReceiveDriver();

} // namespace qarvel
