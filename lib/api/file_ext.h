// The path helper lives in lib/naming; this name stays for the front end.
#ifndef RAWCONV_API_FILE_EXT_H_
#define RAWCONV_API_FILE_EXT_H_

#include "naming/file_ext.h"

#endif  // RAWCONV_API_FILE_EXT_H_
