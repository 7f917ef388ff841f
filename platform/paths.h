// "The program's folder": where init.txt, snapshots and sound files live. It is the executable's folder
// unless the command line names another (--dir).
//
// Installed programs live in a folder they must not write (/usr/bin). There the receivers use the user's own
// folder instead ($XDG_CONFIG_HOME/<program>/, by default ~/.config/<program>/), and files that are only read
// (the server's chime and alarm) are also looked for in the package's shared data folder
// (<prefix>/share/<package>/, found from the executable's folder, so an unpacked tree works as well).
#pragma once

#include <functional>
#include <string>

namespace platform {

std::string ProgramFolder();
void SetProgramFolder(std::string folder);
// The program's folder joined with a file name.
std::string InProgramFolder(const std::string& name);

// What a receiver's choice of folder depends on. CurrentFolderFacts() describes this process; tests build
// their own (a folder that refuses writes cannot be made for root, so can_write is a parameter).
struct FolderFacts {
    std::string executable_folder;
    std::string shared_data_folder;  // <executable folder>/../share/<package>; exists when installed
    std::string config_home;         // $XDG_CONFIG_HOME, else ~/.config; empty when there is no home
    std::function<bool(const std::string& folder)> can_write;
};
FolderFacts CurrentFolderFacts();

// A file the program reads but never writes: in the program's folder when it is there, else in the package's
// shared data folder when it is there; otherwise the program's folder's path, so that a "not found" names the
// first place looked.
std::string FindDataFile(const std::string& name, const FolderFacts& facts = CurrentFolderFacts());

// A receiver's folder: dir_option when given; else the executable's folder when it holds init.txt, or when it
// can be written and is no installed program's folder (root can write /usr/bin, but nothing belongs there);
// else <config home>/<program_name>. Empty when that is needed and there is no config home.
std::string ChooseReceiverFolder(const std::string& dir_option, const std::string& program_name,
                                 const FolderFacts& facts);

// Chooses as above, creates the user's folder when it is the one chosen, and makes the choice the program's
// folder. False with a message for the user when --dir names no folder or the user's folder cannot be made.
bool UseReceiverFolder(const std::string& dir_option, const std::string& program_name,
                       const FolderFacts& facts, std::string* error);

}  // namespace platform
