// The roles of conformance_child that the thread-message and shared-memory
// tests need live in child_ipc.cpp; child.cpp hands them every role it does
// not know.
#pragma once

int RunIpcRole(int argc, char** argv);  // returns -1 when the role is unknown

// The roles of the priority-rights tests (child_rights.cpp); -1 when unknown.
int RunRightsRole(int argc, char** argv);
