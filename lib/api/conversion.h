// One conversion call: validation of the GPB file, output naming, the
// navigation step and the observation step.
#ifndef RAWCONV_API_CONVERSION_H_
#define RAWCONV_API_CONVERSION_H_

#include "api/rawconv.h"

namespace rawconv {

// Converts one GPB file on the current context (see context.h).
// Returns 0 on success, -1 when the GPB file cannot be used (no output is
// created), 1 when the navigation or observation step failed. The message of
// a failure is in Ctx().ErrorText. Beyond the steps' own failures, 1 also
// stands for:
//   - an output path that names an input of the call (the GPB file, the EPP
//     file or the station file beside the GPB file, compared by file
//     identity) or the observation output naming the navigation output:
//     "Output file %s is an input of the conversion; it is not overwritten"
//     or "Output file %s is also the navigation output %s", before any
//     output is opened;
//   - a failed write or close of an output file: "Error writing %s" (the
//     file is left as far as it was written).
int ConvertGpbFile(ObsRequest* obs, NavRequest* nav, int rinex_version);

// Opens the GPB file, reads its first epoch and closes it again. On success
// returns 0 and stores the first epoch's RcvTime; otherwise copies the
// reader's message into the error text and returns -1.
int ValidateGpbFile(const char* gpb_path, double* first_rcv_time);

}  // namespace rawconv

#endif  // RAWCONV_API_CONVERSION_H_
