#pragma once

// systemd's journal as a destination of the agent's warnings and errors.
namespace talvern::platform {

/// True when standard error is connected to the journal (JOURNAL_STREAM names it), as under a systemd
/// unit: warnings then go to the journal with their priorities instead of as plain lines.
bool standardErrorIsJournal();

}  // namespace talvern::platform
