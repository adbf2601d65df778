// The block a checked child is fed through, made by the checker before the
// child starts. One source per platform: child_block_linux.cpp and
// child_block_windows.cpp.
//
// Linux: the block lives in the child's own place for named objects inside
// its scratch folder, the place its layer finds through the XDG_RUNTIME_DIR
// the child is given (ChildRuntimeFolder). No other program of the user (a
// lesson's feeder, a second checker) meets it, whatever names they use.
//
// Windows: one session shares the names, so the block is the session's
// object of that name, and a name that another program holds is busy.
#pragma once

#include <cstdint>
#include <string>

struct ChildBlock {
    std::intptr_t handle = -1;      // Linux: the file's descriptor; Windows: the mapping's HANDLE
    unsigned char* ring = nullptr;  // the checker's view of the ring
    std::string name;               // the block's name (Windows-1251)
};

#ifndef _WIN32
// The folder the child's XDG_RUNTIME_DIR names, inside its scratch folder.
std::string ChildRuntimeFolder(const std::string& scratch);

// Where scratch folders are made: TMPDIR when set and short enough for the
// child's place inside them, else /tmp.
std::string ScratchParent();
#endif

// Creates the block of `name` fresh and cleared for the child whose scratch
// folder is `scratch`. False with the platform's error number: on Windows
// ERROR_ALREADY_EXISTS when another program holds the name (the checker
// never shares a block and lets go of it at once).
bool CreateChildBlock(const std::string& scratch, const std::string& name, ChildBlock& block,
                      std::uint32_t& error);

// Lets go of the block once the child has ended. True when another program
// still held it then: it had the block open beside the checker and the child.
bool ReleaseChildBlock(ChildBlock& block);
