// Roles of conformance_child for the thread-message and shared-memory tests.
#include "child_roles.h"

int RunIpcRole(int, char**) {
    return -1;
}
