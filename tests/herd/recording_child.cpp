// Prints one line, "child <arguments...> class <priority class> pid <id>",
// and ends; an elephant of age 60 instead stays until it is ended from
// outside, so a test can make one child outlast the launcher's wait.
#include <cstdio>
#include <string>

#include "win32.h"

int main(int argc, char** argv) {
    std::string line = "child";
    for (int i = 1; i < argc; ++i) {
        line += ' ';
        line += argv[i];
    }
    line += " class " + std::to_string(GetPriorityClass(GetCurrentProcess()));
    line += " pid " + std::to_string(GetCurrentProcessId()) + "\n";
    // One write, so the line never mixes with the launcher's.
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
    if (argc > 2 && std::string(argv[2]) == "60") {
        Sleep(120000);
    }
    return 0;
}
