// "The program's folder": where init.txt, snapshots and sound files live. It is the executable's folder
// unless the command line names another (--dir).
#pragma once

#include <string>

namespace platform {

std::string ProgramFolder();
void SetProgramFolder(std::string folder);
// The program's folder joined with a file name.
std::string InProgramFolder(const std::string& name);
// Whether a file or folder of that name exists.
bool PathExists(const std::string& path);

}  // namespace platform
