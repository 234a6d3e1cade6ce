#pragma once
// Where the program keeps its files (configuration, logs, COMn links), shared by the viewer and
// the tools.
#include <string>
#include <string_view>

namespace kvx {

// The program directory, where COMn links and the program's files live: dataDir when given,
// else $XDG_DATA_HOME/Orvik_KVX (an absolute XDG_DATA_HOME only), else
// $HOME/.local/share/Orvik_KVX (the password database's home when HOME is unset). Always ends
// with '/'.
std::string programDirectory(const std::string& dataDir);

// dir + '/' (unless it ends in one already) + leaf, built in one reserved string.
std::string joinDir(std::string_view dir, std::string_view leaf);

}  // namespace kvx
