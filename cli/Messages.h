// What quimbel tells its user. File names and add-on names come from outside and may hold any
// byte; every message and name passes through Printable() on its way to the terminal, so that
// none can split a line or send the terminal a command.
#ifndef MESSAGES_H
#define MESSAGES_H

#include <string>
#include <vector>

// `text` with every control character written as an escape: \n, \r, \t, \\x1b and the like, and
// the C1 controls as their UTF-8 bytes (\xc2\x9b). A backslash stays as it is.
std::string Printable(const std::string& text);

// Prints "quimbel: <message>" on standard error, then each of `details` on a line of its own,
// indented by two spaces.
void ReportError(const std::string& message, const std::vector<std::string>& details = {});

// Prints "quimbel: <label>: <note>" on standard error for each of `notes`.
void ReportNotes(const std::string& label, const std::vector<std::string>& notes);

#endif // MESSAGES_H
