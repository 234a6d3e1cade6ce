// Any bytes as the communication file and as the scaling file. Whatever they hold, reading
// gives settings the program can use, and a setting that was read is written back so that it
// reads the same again. The whole input is also the viewer's key = value settings file: its
// lines come back as they were, and a setting written into it reads back.
//
// Input: the communication file's bytes, a zero byte, the scaling file's bytes.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "app/core/program_settings.h"
#include "fuzz_check.h"

using namespace kvx;

namespace {

void writeFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

bool hasSpace(const std::string& s) {
    for (unsigned char c : s)
        if (c == ' ' || (c >= '\t' && c <= '\r')) return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Never destroyed: the exit handler that removes the directory needs its name.
    static const std::string& dir = *new std::string([] {
        // In memory where there is a tmpfs for it: these are many small writes and renames.
        std::string pattern = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        pattern += "/kvx_fuzz_files_XXXXXX";
        FUZZ_CHECK(::mkdtemp(pattern.data()) != nullptr);
        return pattern;
    }());
    static const bool cleanupRegistered = [] {
        std::atexit([] {
            for (const char* name : {kCommFileName, kScalingFileName})
                ::unlink((dir + "/" + name).c_str());
            ::rmdir(dir.c_str());
        });
        return true;
    }();
    (void)cleanupRegistered;
    const auto* zero = static_cast<const std::uint8_t*>(std::memchr(data, 0, size));
    const std::size_t commSize = zero ? static_cast<std::size_t>(zero - data) : size;
    writeFile(dir + "/" + kCommFileName, data, commSize);
    const std::size_t scalingAt = zero ? commSize + 1 : size;
    writeFile(dir + "/" + kScalingFileName, data + scalingAt, size - scalingAt);

    ProgramSettings settings;
    FUZZ_CHECK(readCommFile(dir, settings));
    FUZZ_CHECK(readScalingFile(dir, settings));
    FUZZ_CHECK(!settings.portName.empty());
    FUZZ_CHECK(!hasSpace(settings.portName));

    // What was read survives a write and a second read.
    FUZZ_CHECK(writeCommFile(dir, settings));
    FUZZ_CHECK(writeScalingFile(dir, settings));
    ProgramSettings again;
    again.slaveId = settings.slaveId + 1;
    again.speedMin = static_cast<std::int16_t>(settings.speedMin + 1);
    FUZZ_CHECK(readCommFile(dir, again));
    FUZZ_CHECK(readScalingFile(dir, again));
    FUZZ_CHECK(again.portName == settings.portName);
    FUZZ_CHECK(again.slaveId == settings.slaveId);
    FUZZ_CHECK(again.speedMin == settings.speedMin && again.speedMax == settings.speedMax);

    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<KeyValueFile::Problem> problems;
    KeyValueFile file = KeyValueFile::parse(text, &problems);
    std::string expected = text;
    if (!expected.empty() && expected.back() != '\n') expected += '\n';
    FUZZ_CHECK(file.text() == expected);
    for (const auto& p : problems)
        FUZZ_CHECK(p.line >= 1 && !p.what.empty());
    file.set(kReconnectKey, "yes");
    std::string value;
    FUZZ_CHECK(KeyValueFile::parse(file.text()).get(kReconnectKey, value) && value == "yes");
    return 0;
}
