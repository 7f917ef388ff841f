// platform/process: runs a program as a child process without a shell and without waiting for it. Needs
// nothing but the C library (no other platform room, no Qt).
//
// Start spawns the program (posix_spawn; a name without '/' is looked up in PATH) with this process's
// environment plus the given variables (which replace any of the same name), standard input from
// /dev/null, standard output and error shared with this process, no other open descriptor, and a
// process group of its own so that Kill reaches whatever the program started too. Nothing here handles
// SIGCHLD: the owner calls Reap from its own loop (a timer, each picture), which never blocks, and a
// child still running when its ChildProcess goes is killed and reaped then.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace platform {

// How a child ended.
struct ChildExit {
    bool signalled = false;  // ended by a signal rather than by exiting
    int code = 0;            // the exit status, or the signal's number
};
// "exit status 0", "killed by signal 9 (Killed)".
std::string DescribeExit(const ChildExit& exit);

class ChildProcess {
  public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // argv[0] is the program. `environment` holds "NAME=value" texts. False with *error ("cannot run
    // notify-send: No such file or directory") when it cannot be started, or while a child still runs.
    bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
               std::string* error);
    bool Running() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }
    // If the child has ended: reaps it, fills *exit and returns true. Never waits.
    bool Reap(ChildExit* exit);
    // Sends SIGKILL to the child's process group; Reap collects it afterwards.
    void Kill();

  private:
    pid_t pid_ = 0;
};

}  // namespace platform
