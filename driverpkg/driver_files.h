// Finding a driver's files in an unpacked download, and the Windows
// architecture of a DLL.
#pragma once

#include <string>

// Finds dir/relative with each part of `relative` ('/'-separated) matched
// without regard to case, as Windows does. Only regular files count, and
// nothing is followed out of `dir` through a symbolic link.
bool find_nocase(const std::string &dir, const std::string &relative, std::string *found);

// The machine field of a PE file's header: "x86" (0x14c), "amd64" (0x8664),
// else false with a message.
bool pe_machine(const std::string &path, std::string *arch, std::string *error);
