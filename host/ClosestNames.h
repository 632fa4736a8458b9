// Suggestions for a mistyped name: the known names nearest to it.
#ifndef CLOSEST_NAMES_H
#define CLOSEST_NAMES_H

#include <string>
#include <vector>

// The number of single-character insertions, deletions and substitutions that turn `a` into
// `b`, ignoring the case of ASCII letters (Levenshtein distance).
size_t EditDistance(const std::string& a, const std::string& b);

// Those of `names` close enough to `word` to be what the user meant, nearest first, at most
// `most`. A name is close when its edit distance to `word` is at most a third of the longer of
// the two (rounded up), or when it starts with `word` and `word` has at least three characters.
// Equal names keep their order in `names`; a name given twice is suggested once.
std::vector<std::string> ClosestNames(const std::string& word,
                                      const std::vector<std::string>& names, size_t most = 3);

// `did you mean "a"?`, `did you mean "a" or "b"?`, `did you mean "a", "b" or "c"?`; empty when
// `names` is.
std::string DidYouMean(const std::vector<std::string>& names);

#endif // CLOSEST_NAMES_H
