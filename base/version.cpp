#include "base/version.h"

#ifndef KVX_VERSION
#error "KVX_VERSION must come from the build (the CMake project version)"
#endif

namespace kvx::cli {

std::string_view projectVersion() {
    return KVX_VERSION;
}

}  // namespace kvx::cli
