/* The baseline of child_start_bench: the least a child can be, a statically
   linked C program that prints one line and ends. */
#include <unistd.h>

int main(void) {
    static const char line[] = "one line\n";
    return write(1, line, sizeof line - 1) == (ssize_t)(sizeof line - 1) ? 0 : 1;
}
