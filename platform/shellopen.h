// Starting a program the way the desktop shell's "open" verb does: detached from the
// caller, in a chosen working folder, visible (standard streams inherited) or hidden
// (standard streams on /dev/null).
#pragma once

#include <string>
#include <vector>

namespace platform {

// Starts program with the given arguments in folder (the caller's folder when empty).
// The program runs on its own (it is not the caller's child and needs no waiting
// for). True when the program could be started.
bool shellOpen(const std::string& program, const std::vector<std::string>& arguments,
               const std::string& folder, bool visible);

}  // namespace platform
