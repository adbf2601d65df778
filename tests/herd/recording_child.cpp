// Prints one line: "child <arguments...> class <priority class>", then ends.
#include <cstdio>
#include <string>

#include "win32.h"

int main(int argc, char** argv) {
    std::string line = "child";
    for (int i = 1; i < argc; ++i) {
        line += ' ';
        line += argv[i];
    }
    line += " class " + std::to_string(GetPriorityClass(GetCurrentProcess())) + "\n";
    // One write, so the line never mixes with the launcher's.
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
    return 0;
}
