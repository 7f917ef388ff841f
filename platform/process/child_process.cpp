// Spawning, reaping and killing child processes with posix_spawn and waitpid.
#include "platform/process/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace platform {
namespace {

std::string VariableName(const std::string& assignment) {
    return assignment.substr(0, assignment.find('='));
}

// This process's environment without the names that `extra` sets, then `extra`.
std::vector<std::string> MergedEnvironment(const std::vector<std::string>& extra) {
    std::vector<std::string> merged;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string assignment = *entry;
        bool replaced = false;
        for (const std::string& e : extra) replaced = replaced || VariableName(e) == VariableName(assignment);
        if (!replaced) merged.push_back(assignment);
    }
    merged.insert(merged.end(), extra.begin(), extra.end());
    return merged;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace

std::string DescribeExit(const ChildExit& exit) {
    if (!exit.signalled) return "exit status " + std::to_string(exit.code);
    return "killed by signal " + std::to_string(exit.code) + " (" + strsignal(exit.code) + ")";
}

ChildProcess::~ChildProcess() {
    if (pid_ <= 0) return;
    Kill();
    int status = 0;
    waitpid(pid_, &status, 0);  // SIGKILL cannot be caught: this returns at once
}

bool ChildProcess::Start(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                         std::string* error) {
    if (argv.empty()) {
        *error = "no program given";
        return false;
    }
    if (pid_ > 0) {
        *error = "the previous run of " + argv[0] + " is still running";
        return false;
    }
    std::vector<std::string> args = argv;
    std::vector<std::string> env = MergedEnvironment(environment);
    std::vector<char*> arg_pointers = Pointers(args);
    std::vector<char*> env_pointers = Pointers(env);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setpgroup(&attributes, 0);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    pid_t pid = 0;
    const int failure =
        posix_spawnp(&pid, args[0].c_str(), &actions, &attributes, arg_pointers.data(), env_pointers.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (failure != 0) {
        *error = "cannot run " + argv[0] + ": " + std::strerror(failure);
        return false;
    }
    pid_ = pid;
    return true;
}

bool ChildProcess::Reap(ChildExit* exit) {
    if (pid_ <= 0) return false;
    int status = 0;
    const pid_t reaped = waitpid(pid_, &status, WNOHANG);
    if (reaped == 0 || (reaped < 0 && errno == EINTR)) return false;
    pid_ = 0;
    if (reaped < 0) {
        *exit = {};  // reaped elsewhere; nothing more is known
    } else if (WIFSIGNALED(status)) {
        *exit = {true, WTERMSIG(status)};
    } else {
        *exit = {false, WEXITSTATUS(status)};
    }
    return true;
}

void ChildProcess::Kill() {
    if (pid_ > 0) ::kill(-pid_, SIGKILL);
}

}  // namespace platform
