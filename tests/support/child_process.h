// A call run in a child process so that the test can do to it what a
// test in its own process cannot: limit the size of its files, and hold it
// at the start of its commit to change the folder meanwhile (POSIX,
// header-only).
#ifndef RAWCONV_TESTS_SUPPORT_CHILD_PROCESS_H_
#define RAWCONV_TESTS_SUPPORT_CHILD_PROCESS_H_

#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

namespace rawconv {
namespace testsupport {

// What a call said: its result (exit code or library result) and its
// message. -100: the child process did not tell.
struct Outcome {
  int Code = -100;
  std::string Message;
};

// What is done to a call besides the user's files: a limit on the size of
// its files (SIGXFSZ ignored, so that a write past it fails with EFBIG
// rather than ending the process), and something done while the process is
// held at the start of its commit (every target checked, nothing moved).
struct Injection {
  long FileSizeLimit = -1;
  std::function<void()> AtCommit;
};

// In a child process just started: sets it up as `how` says.
inline void Inject(const Injection& how) {
  if (how.AtCommit) setenv("RAWCONV_TEST_STOP_AT", "commit", 1);
  if (how.FileSizeLimit >= 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlim_t limit = static_cast<rlim_t>(how.FileSizeLimit);
    struct rlimit rl = {limit, limit};
    if (setrlimit(RLIMIT_FSIZE, &rl) != 0) _exit(121);
  }
}

// The exit code of a wait status, 128 + signal when a signal ended the
// process (as a shell gives it).
inline int ExitCodeOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

// Waits for the child; each time it has stopped itself at a commit, does
// what `how` says and lets it go on. Its exit code.
inline int Wait(pid_t pid, const Injection& how) {
  int status = 0;
  while (waitpid(pid, &status, WUNTRACED) == pid && WIFSTOPPED(status)) {
    if (how.AtCommit) how.AtCommit();
    kill(pid, SIGCONT);
  }
  return ExitCodeOf(status);
}

// Runs fn (a library call) in a child process injected as `how` says.
inline Outcome InChild(const std::function<Outcome()>& fn, const Injection& how) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    Inject(how);
    const Outcome out = fn();
    std::string message = std::to_string(out.Code) + "\n" + out.Message;
    const bool ok = write(fds[1], message.data(), message.size()) ==
                    static_cast<ssize_t>(message.size());
    _exit(ok ? 0 : 1);
  }
  close(fds[1]);
  const int code = Wait(pid, how);  // the message fits the pipe's buffer
  std::string text;
  char buf[512];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  Outcome out;
  const size_t eol = text.find('\n');
  if (code == 0 && eol != std::string::npos) {
    out.Code = std::stoi(text.substr(0, eol));
    out.Message = text.substr(eol + 1);
  }
  return out;
}

}  // namespace testsupport
}  // namespace rawconv

#endif  // RAWCONV_TESTS_SUPPORT_CHILD_PROCESS_H_
