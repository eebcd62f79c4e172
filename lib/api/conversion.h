// One conversion call: validation of the GPB file, output naming, the
// navigation step and the observation step.
#ifndef RAWCONV_API_CONVERSION_H_
#define RAWCONV_API_CONVERSION_H_

#include "api/rawconv.h"

namespace rawconv {

// Converts one GPB file on the current context (see context.h).
// Returns 0 on success, -1 when the GPB file cannot be used (no output is
// created), 1 when the navigation or observation step failed. The message of
// a failure is in Ctx().ErrorText.
int ConvertGpbFile(ObsRequest* obs, NavRequest* nav, int rinex_version);

// Opens the GPB file, reads its first epoch and closes it again. On success
// returns 0 and stores the first epoch's RcvTime; otherwise copies the
// reader's message into the error text and returns -1.
int ValidateGpbFile(const char* gpb_path, double* first_rcv_time);

}  // namespace rawconv

#endif  // RAWCONV_API_CONVERSION_H_
