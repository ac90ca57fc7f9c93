#pragma once
// Reads a text the plug-in hands over by address, without trusting the
// address: every byte is checked to lie in committed, readable memory.
#include <cstddef>
#include <string>

namespace standin {

// Longer texts than this count as unterminated.
inline constexpr size_t MaxProbedText = 4096;

enum class TextState { Readable, Null, Unreadable, Unterminated };

struct ProbedText {
    TextState state = TextState::Null;
    std::string text; // the characters, when readable
};

ProbedText ProbeText(const char* address);

// "null", "unreadable memory" and the like, for reports.
const char* Describe(TextState state);

} // namespace standin
