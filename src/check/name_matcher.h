// Finds which of a set of names occur in a text, ignoring ASCII case, in one
// pass over the text whatever the number of names: an Aho-Corasick automaton
// compiled to a table over the bytes the names use. Any byte that no name
// holds (the line feed among them, since names never hold control bytes)
// sends the search back to its start, so a match never crosses a line end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct NameMatcher {
  int32_t classCount = 1;              // byte classes; class 0 is every byte no name holds
  uint8_t byteClass[256] = {};         // ASCII letters share a class with their capitals
  std::vector<int32_t> next;           // state * classCount + class -> state; state 0 is the start
  std::vector<int32_t> nameAt;         // state -> the name that ends there, or -1
  std::vector<int32_t> nextNameState;  // state -> nearest shorter state on its suffix chain
                                       // where a name ends, or -1
};

// Builds the matcher for names (each found by its index). Names equal but for
// case are the same name to the matcher; the first index of them is reported.
// Empty names are never found.
void buildNameMatcher(const std::vector<std::string>& names, NameMatcher* matcher);

// Feeds text through the matcher from *state (0 at the start of a text),
// calling found(index) for every name occurrence; *state carries over to the
// next call, so a text can be fed in pieces.
template <typename Found>
void matchNames(const NameMatcher& m, int32_t* state, const unsigned char* text, size_t size,
                Found&& found) {
  int32_t s = *state;
  const int32_t* next = m.next.data();
  const int32_t classes = m.classCount;
  for (size_t i = 0; i < size; ++i) {
    s = next[s * classes + m.byteClass[text[i]]];
    for (int32_t t = m.nameAt[s] >= 0 ? s : m.nextNameState[s]; t >= 0; t = m.nextNameState[t]) {
      found(m.nameAt[t]);
    }
  }
  *state = s;
}
