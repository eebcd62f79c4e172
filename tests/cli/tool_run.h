// Runs a program as a child process in a given folder, with its standard
// output and standard error captured apart, optional standard input and an
// optional file size limit (header-only, POSIX).
#ifndef RAWCONV_TESTS_CLI_TOOL_RUN_H_
#define RAWCONV_TESTS_CLI_TOOL_RUN_H_

#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/file_bytes.h"

namespace rawconv {
namespace clitest {

struct ToolRun {
  int Code = -1;  // exit code, or 128 + signal when a signal ended it
  std::string Out;
  std::string Err;
};

struct RunSetup {
  std::string Stdin;         // fed on standard input
  long FileSizeLimit = -1;   // RLIMIT_FSIZE in bytes; -1: none
};

inline std::string Slurp(const std::string& path) { return testio::ReadBytes(path); }

// Runs program with args in folder dir. The captured streams live in a
// scratch folder of their own so that dir holds only what the program made.
inline ToolRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                          const std::string& dir, const RunSetup& setup = RunSetup()) {
  ToolRun run;
  char pattern[] = "/tmp/rawconv_cli_io_XXXXXX";
  if (mkdtemp(pattern) == nullptr) return run;
  const std::string io = pattern;
  const std::string in_path = io + "/in", out_path = io + "/out", err_path = io + "/err";
  if (std::FILE* f = std::fopen(in_path.c_str(), "wb")) {
    std::fwrite(setup.Stdin.data(), 1, setup.Stdin.size(), f);
    std::fclose(f);
  }
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  const pid_t pid = fork();
  if (pid == 0) {
    const int in = open(in_path.c_str(), O_RDONLY);
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
        chdir(dir.c_str()) != 0)
      _exit(120);
    if (setup.FileSizeLimit >= 0) {
      struct rlimit limit;
      limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(setup.FileSizeLimit);
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(121);
    }
    execv(program.c_str(), argv.data());
    _exit(122);
  }
  if (pid > 0) {
    int status = 0;
    if (waitpid(pid, &status, 0) == pid) {
      if (WIFEXITED(status)) run.Code = WEXITSTATUS(status);
      else if (WIFSIGNALED(status)) run.Code = 128 + WTERMSIG(status);
    }
  }
  run.Out = Slurp(out_path);
  run.Err = Slurp(err_path);
  std::remove(in_path.c_str());
  std::remove(out_path.c_str());
  std::remove(err_path.c_str());
  rmdir(io.c_str());
  return run;
}

}  // namespace clitest
}  // namespace rawconv

#endif  // RAWCONV_TESTS_CLI_TOOL_RUN_H_
