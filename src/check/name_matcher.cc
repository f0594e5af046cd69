#include "check/name_matcher.h"

#include "platform/ascii_case.h"

void buildNameMatcher(const std::vector<std::string>& names, NameMatcher* m) {
  // Byte classes: one for each folded byte that some name holds.
  int32_t classOfFolded[256] = {};
  int32_t classes = 1;
  for (const std::string& name : names) {
    for (char ch : name) {
      auto folded = static_cast<unsigned char>(toLowerAscii(ch));
      if (classOfFolded[folded] == 0) classOfFolded[folded] = classes++;
    }
  }
  for (int b = 0; b < 256; ++b) {
    auto folded = static_cast<unsigned char>(toLowerAscii(static_cast<char>(b)));
    m->byteClass[b] = static_cast<uint8_t>(classOfFolded[folded]);
  }
  m->classCount = classes;
  const auto rowSize = static_cast<size_t>(classes);

  // The trie of the names, -1 standing for a missing edge.
  m->next.assign(rowSize, -1);
  m->nameAt.assign(1, -1);
  for (size_t index = 0; index < names.size(); ++index) {
    if (names[index].empty()) continue;
    int32_t s = 0;
    for (char ch : names[index]) {
      size_t slot = static_cast<size_t>(s) * rowSize + m->byteClass[static_cast<unsigned char>(ch)];
      int32_t child = m->next[slot];
      if (child < 0) {
        child = static_cast<int32_t>(m->nameAt.size());
        m->nameAt.push_back(-1);
        m->next.resize(m->next.size() + rowSize, -1);
        m->next[slot] = child;
      }
      s = child;
    }
    if (m->nameAt[static_cast<size_t>(s)] < 0) {
      m->nameAt[static_cast<size_t>(s)] = static_cast<int32_t>(index);
    }
  }

  // Breadth first, every missing edge is completed from the state's longest
  // proper suffix, which lies nearer the start and so is complete already.
  const size_t states = m->nameAt.size();
  std::vector<int32_t> fail(states, 0);
  m->nextNameState.assign(states, -1);
  std::vector<int32_t> queue;
  queue.reserve(states);
  for (size_t c = 0; c < rowSize; ++c) {
    int32_t& edge = m->next[c];
    if (edge < 0) {
      edge = 0;
    } else {
      queue.push_back(edge);
    }
  }
  for (size_t head = 0; head < queue.size(); ++head) {
    const auto u = static_cast<size_t>(queue[head]);
    const auto f = static_cast<size_t>(fail[u]);
    for (size_t c = 0; c < rowSize; ++c) {
      int32_t v = m->next[u * rowSize + c];
      int32_t viaSuffix = m->next[f * rowSize + c];
      if (v < 0) {
        m->next[u * rowSize + c] = viaSuffix;
        continue;
      }
      fail[static_cast<size_t>(v)] = viaSuffix;
      const auto vf = static_cast<size_t>(viaSuffix);
      m->nextNameState[static_cast<size_t>(v)] =
          m->nameAt[vf] >= 0 ? viaSuffix : m->nextNameState[vf];
      queue.push_back(v);
    }
  }
}
