// A minimal feeder child, as the students' guide (tusker-guide-ru.txt)
// describes it: the smallest program that passes every herdcheck check, for
// both feeders. Build it as tusker6.exe (or tusker2.exe) and put it beside
// herdboss6.exe (herdboss2.exe).
//
// It uses nothing of herdlab but the Win32 calls; on Linux, herdlab's own
// stand-in for <windows.h> provides them.
#ifdef _WIN32
#include <windows.h>
#else
#include "herdlab_winapi.h"
#endif

#include <atomic>
#include <string>
#include <vector>

// The command line, e.g. "tusker6 Tandy 3 1,70" or "tusker2 процесс 1 3 1,70",
// split at blanks. GetCommandLineA gives the name in Windows-1251, the code
// page of the block's name.
static std::vector<std::string> CommandLineWords() {
    std::vector<std::string> words;
    std::string word;
    for (const char* c = GetCommandLineA(); *c != '\0'; ++c) {
        if (*c == ' ') {
            if (!word.empty()) {
                words.push_back(word);
            }
            word.clear();
        } else {
            word += *c;
        }
    }
    if (!word.empty()) {
        words.push_back(word);
    }
    return words;
}

// The weight in hundredths: "1,70" and "1.70" both give 170, whatever the
// locale's decimal separator is.
static long WeightInHundredths(const std::string& text) {
    long whole = 0;
    long fraction = 0;
    int fractionDigits = -1;  // -1: no separator seen yet
    for (char c : text) {
        if (c >= '0' && c <= '9') {
            if (fractionDigits < 0) {
                whole = whole * 10 + (c - '0');
            } else if (fractionDigits < 2) {
                fraction = fraction * 10 + (c - '0');
                ++fractionDigits;
            }
        } else if (fractionDigits < 0) {
            fractionDigits = 0;  // the separator: ',' or '.'
        }
    }
    if (fractionDigits == 1) {
        fraction *= 10;  // "1,7" is 170 hundredths too
    }
    return whole * 100 + fraction;
}

int main() {
    std::vector<std::string> words = CommandLineWords();
    if (words.size() < 4) {
        return 2;  // program, name (one or more words), age, weight
    }
    // The name: every word between the program and the last two (age, weight).
    std::string name;
    for (size_t i = 1; i + 2 < words.size(); ++i) {
        name += (i > 1 ? " " : "") + words[i];
    }
    // Ration: 5 x weight x weight, rounded up; in hundredths, without rounding errors.
    long weight = WeightInHundredths(words.back());
    long ration = (5 * weight * weight + 9999) / 10000;

    // The block's name: a character whose code is the name's length, then the name.
    std::string blockName = std::string(1, static_cast<char>(name.size())) + name;
    HANDLE block = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, blockName.c_str());
    if (block == nullptr) {
        return 1;
    }
    unsigned char* slots =
        static_cast<unsigned char*>(MapViewOfFile(block, FILE_MAP_ALL_ACCESS, 0, 0, 8));
    if (slots == nullptr) {
        return 1;
    }

    // Eat in ring order from slot 0: wait until the slot holds 1, write 0.
    int slot = 0;
    for (long eaten = 0; eaten < ration;) {
        std::atomic_ref<unsigned char> portion(slots[slot]);
        if (portion.load() == 1) {
            portion.store(0);
            ++eaten;
            slot = (slot + 1) % 8;
        } else {
            Sleep(10);  // nothing yet: sleep, never spin
        }
    }
    UnmapViewOfFile(slots);
    CloseHandle(block);
    return 0;
}
