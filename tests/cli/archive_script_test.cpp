// scripts/convert-archive.sh, the per-task script of archive runs: the
// tasks of an array share a list without overlap or gap, a second run is a
// retry that converts only what is missing, a stopped task leaves nothing
// half done, and its exit codes are gpb2rinex's.
#include <gtest/gtest.h>

#include <string>

#include "cli/cli_fixture.h"

namespace rawconv {
namespace clitest {
namespace {

class ArchiveScriptTest : public CliTest {
 protected:
  // The script run in the scratch folder as task `task` of `tasks`.
  ToolRun Task(int task, int tasks, const std::string& extra = "") const {
    const std::string script = std::string(RAWCONV_SOURCE_DIR) + "/scripts/convert-archive.sh";
    return Shell("TASK_ID=" + std::to_string(task) + " TASK_COUNT=" + std::to_string(tasks) +
                 " JOBS=2 GPB2RINEX=\"$TOOL\" bash '" + script + "' list.txt -o out" + extra);
  }
};

TEST_F(ArchiveScriptTest, TasksShareTheListAndASecondRunOnlyRetries) {
  const char* stems[] = {"d1/a", "d1/b", "d2/c", "d2/d", "d3/e"};
  std::string list;
  for (const char* stem : stems) {
    WriteInput(stem);
    list += std::string(stem) + ".gpb\n\n";  // blank lines are not files
  }
  Write("list.txt", list);

  ToolRun first = Task(0, 2);
  ASSERT_EQ(0, first.Code) << first.Err;
  ToolRun second = Task(1, 2);
  ASSERT_EQ(0, second.Code) << second.Err;
  // Task 0 takes lines 0, 2, 4 of the files, task 1 lines 1 and 3.
  EXPECT_EQ("d1/a.gpb -> a.05o a.05n\nd2/c.gpb -> c.05o c.05n\nd3/e.gpb -> e.05o e.05n\n",
            first.Out);
  EXPECT_EQ("d1/b.gpb -> b.05o b.05n\nd2/d.gpb -> d.05o d.05n\n", second.Out);
  for (const char* name : {"a", "b", "c", "d", "e"}) {
    EXPECT_TRUE(Exists(std::string("out/") + name + ".05o")) << name;
    EXPECT_TRUE(Exists(std::string("out/") + name + ".05n")) << name;
  }

  // The retry after a lost output converts that file alone.
  std::filesystem::remove(Path("out/c.05o"));
  std::filesystem::remove(Path("out/c.05n"));
  ToolRun retry = Task(0, 2, " -q");
  EXPECT_EQ(0, retry.Code) << retry.Err;
  EXPECT_TRUE(Exists("out/c.05o"));
}

TEST_F(ArchiveScriptTest, FailuresAndBadTasksGiveGpb2rinexsCodes) {
  WriteInput("good");
  Write("bad.gpb", "not a recording");
  Write("list.txt", "bad.gpb\ngood.gpb\n");
  ToolRun run = Task(0, 1);
  EXPECT_EQ(1, run.Code);
  EXPECT_NE(std::string::npos, run.Err.find("bad.gpb")) << run.Err;
  EXPECT_TRUE(Exists("out/good.05o"));
  EXPECT_TRUE(FilesContaining(".part-").empty());

  EXPECT_EQ(2, Task(2, 2).Code);  // no task 2 in an array of two
  EXPECT_EQ(2, Shell("bash '" + std::string(RAWCONV_SOURCE_DIR) +
                     "/scripts/convert-archive.sh' missing.txt").Code);
}

// What a killed task leaves (temporary files beside its outputs) goes with
// the task's next run; the same leftovers of another task's share stay, as
// they may be that task's files in the making.
TEST_F(ArchiveScriptTest, ARerunRemovesTheLeftoversOfItsOwnShareOnly) {
  WriteInput("a");
  WriteInput("b");
  Write("list.txt", "a.gpb\nb.gpb\n");
  Write("out/a.05o.part-Ab12Cd", "cut");
  Write("out/a.05n.old-Xy34Zw", "kept aside");
  Write("out/b.05o.part-Qw56Er", "being written");
  ToolRun run = Task(0, 2, " -q");
  ASSERT_EQ(0, run.Code) << run.Err;
  EXPECT_TRUE(Exists("out/a.05o"));
  EXPECT_FALSE(Exists("out/a.05o.part-Ab12Cd"));
  EXPECT_FALSE(Exists("out/a.05n.old-Xy34Zw"));
  EXPECT_TRUE(Exists("out/b.05o.part-Qw56Er"));
  EXPECT_FALSE(Exists("out/b.05o"));
}

// A scheduler stops a task with SIGTERM to its shell: the shell passes the
// stop on and waits, so that gpb2rinex takes back the commit under way
// and removes its temporary files before the task ends. gpb2rinex is held
// in its commit (the test hook) while the shell is signalled.
TEST_F(ArchiveScriptTest, AStoppedTaskWaitsForItsConversionsToBeTakenBack) {
  WriteInput("a");
  Write("list.txt", "a.gpb\n");
  const std::string script = std::string(RAWCONV_SOURCE_DIR) + "/scripts/convert-archive.sh";
  ToolRun run = Shell(
      "RAWCONV_TEST_STOP_AT=commit TASK_ID=0 TASK_COUNT=1 GPB2RINEX=\"$TOOL\" bash '" + script +
      "' list.txt -o out & s=$!; p=; "
      "for i in $(seq 400); do p=$(pgrep -P $s -x gpb2rinex) && "
      "[ \"$(ps -o stat= -p $p | cut -c1)\" = T ] && break; p=; sleep 0.05; done; "
      "[ -n \"$p\" ] || { echo 'gpb2rinex never reached its commit'; kill -KILL $s; exit 99; }; "
      // The stop reaches the task, which passes it on as SIGINT: go on only
      // once that SIGINT waits at the stopped gpb2rinex (value 2 of its
      // pending sets), however slowly the shell's trap runs.
      "kill -TERM $s; "
      "for i in $(seq 400); do "
      "set -- $(awk '/^(SigPnd|ShdPnd):/ {print $2}' /proc/$p/status); "
      "[ $(( (0x$1 | 0x$2) & 2 )) -ne 0 ] && break; sleep 0.05; done; "
      "kill -CONT $p; wait $s; echo \"code $?\"");
  EXPECT_NE(std::string::npos, run.Out.find("code 130")) << run.Out << run.Err;
  EXPECT_FALSE(Exists("out/a.05o"));
  EXPECT_FALSE(Exists("out/a.05n"));
  EXPECT_TRUE(FilesContaining(".part-").empty());
}

}  // namespace
}  // namespace clitest
}  // namespace rawconv
