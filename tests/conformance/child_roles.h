// The roles of conformance_child that the thread-message and shared-memory
// tests need live in child_ipc.cpp; child.cpp hands them every role it does
// not know.
#pragma once

int RunIpcRole(int argc, char** argv);  // returns -1 when the role is unknown
