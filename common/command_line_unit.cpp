// Splitting a command line into words, the same way on both platforms: the
// Linux layer rebuilds its command line so that these rules give back argv.
#include "command_line_unit.h"

#include "win32.h"

namespace {

bool IsSeparator(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

// Skips separators and empty pairs of quotes before a word.
std::size_t SkipToWord(std::string_view line, std::size_t i) {
    for (;;) {
        while (i < line.size() && IsSeparator(line[i])) {
            ++i;
        }
        if (i + 1 < line.size() && line[i] == '"' && line[i + 1] == '"') {
            i += 2;
        } else {
            return i;
        }
    }
}

// Reads the word that starts at line[i]; returns the position after it.
std::size_t ReadWord(std::string_view line, std::size_t i, std::string& word) {
    bool quoted = false;
    for (; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && IsSeparator(c)) {
            break;
        } else {
            word += c;
        }
    }
    return i;
}

// A command line ends at its first zero byte, as the platform's does.
std::string_view UpToZero(std::string_view line) {
    return line.substr(0, line.find('\0'));
}

}  // namespace

std::vector<std::string> CommandLineWords(std::string_view commandLine) {
    const std::string_view line = UpToZero(commandLine);
    std::vector<std::string> words;
    std::size_t i = SkipToWord(line, 0);
    while (i < line.size()) {
        std::string word;
        i = ReadWord(line, i, word);
        words.push_back(std::move(word));
        i = SkipToWord(line, i);
    }
    return words;
}

std::string CommandLineWord(std::string_view commandLine, int index) {
    if (index < 0) {
        return {};
    }
    std::vector<std::string> words = CommandLineWords(commandLine);
    if (static_cast<std::size_t>(index) >= words.size()) {
        return {};
    }
    return std::move(words[static_cast<std::size_t>(index)]);
}

std::string CommandArgument(int index) {
    const char* line = GetCommandLineA();
    return CommandLineWord(line != nullptr ? line : "", index);
}
