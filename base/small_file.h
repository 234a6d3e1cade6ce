#pragma once
// A configuration or state file read whole. Only a regular file of a bounded size is read: it is
// opened without blocking, so that a pipe or a device put in the file's place cannot stall the
// program, and is then refused, as a directory is.
#include <cstddef>
#include <string>

namespace kvx {

enum class SmallFile {
    Read,     // out holds the whole file
    Missing,  // no such file
    Refused,  // it could not be opened (openErrno says why), is not a regular file, is larger
              // than maxBytes (also when it grew while being read), or a read failed
};

SmallFile readSmallFile(const std::string& path, std::size_t maxBytes, std::string& out,
                        int* openErrno = nullptr);

}  // namespace kvx
