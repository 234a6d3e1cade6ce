#include "base/program_directory.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace kvx {

std::string joinDir(std::string_view dir, std::string_view leaf) {
    std::string path;
    path.reserve(dir.size() + 1 + leaf.size());
    path.append(dir);
    if (path.empty() || path.back() != '/') path.push_back('/');
    path.append(leaf);
    return path;
}

std::string programDirectory(const std::string& dataDir) {
    if (!dataDir.empty()) return joinDir(dataDir, "");
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && xdg[0] == '/') return joinDir(xdg, "Orvik_KVX/");
    // A view, not a std::string assigned from each source: GCC 12 at -O3 reports a false
    // -Wrestrict overlap for assigning a literal to a string.
    std::string_view home = ".";
    if (const char* h = std::getenv("HOME"); h && h[0]) {
        home = h;
    } else if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) {
        home = pw->pw_dir;
    }
    return joinDir(home, ".local/share/Orvik_KVX/");
}

}  // namespace kvx
