// shapelib file hooks for reading a layer from start to end.
#pragma once

#include <shapefil.h>

namespace orvtessel {

// The C library's stdio, except that a seek to the position the file is
// already at does nothing. shapelib seeks before every record it reads; on
// a layer read in order each of those seeks lands where the previous read
// ended, yet the C library turns each into an lseek system call: two per
// record, more than all the reads together. A file opened for reading that
// is not a regular file (a folder, a device, a pipe) is not opened, so
// shapelib treats it as missing instead of waiting on it.
SAHooks sequentialReadHooks();

}  // namespace orvtessel
