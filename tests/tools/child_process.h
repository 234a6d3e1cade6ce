#pragma once
// Starts a program as a technician would and collects what it prints and its exit status.
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace kvx::sim {

struct Child {
    pid_t pid = -1;
    int out = -1, err = -1;
};

inline Child spawn(const std::vector<std::string>& args) {
    int out[2], err[2];
    Child c;
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return c;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_adddup2(&fa, err[1], 2);
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    if (::posix_spawn(&c.pid, argv[0], &fa, nullptr, argv.data(), environ) != 0) c.pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    ::close(out[1]);
    ::close(err[1]);
    c.out = out[0];
    c.err = err[0];
    return c;
}

inline std::string readAll(int fd) {
    std::string s;
    char buf[4096];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;)
        s.append(buf, static_cast<size_t>(n));
    ::close(fd);
    return s;
}

inline std::string readLine(int fd, int timeoutMs) {
    std::string s;
    char ch;
    while (true) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0 || ::read(fd, &ch, 1) != 1 || ch == '\n') break;
        s += ch;
    }
    return s;
}

struct Result {
    int status = -1;
    std::string out, err;
};

inline Result finish(Child c) {
    Result r;
    r.out = readAll(c.out);
    r.err = readAll(c.err);
    int st = 0;
    ::waitpid(c.pid, &st, 0);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    return r;
}

inline Result run(const std::vector<std::string>& args) {
    return finish(spawn(args));
}

}  // namespace kvx::sim
