// A batch of gpb2rinex: every output path planned first, then the files
// converted by worker threads, one library session each, with one line per
// file printed in argument order.
#ifndef RAWCONV_CLI_BATCH_H_
#define RAWCONV_CLI_BATCH_H_

#include <csignal>

#include "arguments.h"

namespace gpb2rinex {

// Set by SIGINT or SIGTERM: conversions under way are cancelled (their
// partial outputs removed by the library) and no further file is begun.
extern volatile std::sig_atomic_t g_stop_signal;

// Runs the batch and returns the exit code: 0 when every file converted or
// was skipped, 1 when any failed, 2 when the batch cannot run as asked (two
// inputs would write the same file), 128 + signal when interrupted.
int RunBatch(const Arguments& args);

}  // namespace gpb2rinex

#endif  // RAWCONV_CLI_BATCH_H_
