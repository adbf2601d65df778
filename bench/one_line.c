/* child_start_bench's baseline, the least a child can be: a statically
   linked C program that prints one line and ends.

   Given a program and its arguments it starts that instead and, once it has
   ended, prints "peak <kB>", the program's peak resident memory. The kernel
   counts in a child's peak the memory of the process it was forked from, so
   only a parent this small lets the figure show the child's own. */
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

static int PrintLine(const char* line, int length) {
    return write(1, line, (size_t)length) == (ssize_t)length ? 0 : 1;
}

int main(int argc, char** argv) {
    if (argc == 1) {
        return PrintLine("one line\n", 9);
    }
    const pid_t pid = fork();
    if (pid == 0) {
        execv(argv[1], argv + 1);
        _exit(127);
    }
    struct rusage usage = {0};
    if (pid < 0 || wait4(pid, NULL, 0, &usage) != pid) {
        return 1;
    }
    char line[64];
    const int length = snprintf(line, sizeof line, "peak %ld\n", usage.ru_maxrss);
    return PrintLine(line, length);
}
