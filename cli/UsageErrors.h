// Telling the user what is wrong with a command line that does not parse, in quimbel's words
// rather than the parser's, with the names the user may have meant.
#ifndef USAGE_ERRORS_H
#define USAGE_ERRORS_H

namespace CLI {
class App;
class ParseError;
} // namespace CLI

// Reports `error`, which parsing `app`'s command line threw, and returns the exit status: help
// and version are printed and give kExitSuccess; everything else is explained on standard error
// and gives kExitUsage. An unknown command or option is named with the closest known ones, a
// number option given something else is said not to be a number.
int ReportUsageError(const CLI::App& app, const CLI::ParseError& error);

#endif // USAGE_ERRORS_H
