#include "settings/settings_file_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "base/command_line.h"
#include "model/registers.h"
#include "model/typed_text.h"

namespace kvx {
namespace {

constexpr std::string_view kHeaderStart = "Dravo SN: ";
constexpr std::string_view kHeaderVersion = " ver. ";

// Text from the file, fit to quote in a one-line message.
std::string quoted(std::string_view text) {
    constexpr std::size_t kMax = 40;
    std::string shown = cli::printable(text.substr(0, kMax));
    if (text.size() > kMax) shown += "...";
    return "\"" + shown + "\"";
}

// A row's value and the header's serial number: digits only, 0..65535 (leading zeros allowed,
// as a person might type them).
Parsed<long> parseUnsigned16(std::string_view text) {
    return parseDigits(text, 65535);
}

// The version text exactly as the upload prints some version x 100; false for any other.
bool parseVersion(std::string_view text, int& firmware) {
    if (text.size() > 12) return false;
    // Read as a number with two places (the third and later cut), then the printed form
    // decides: blanks, a '+', "1.170" or "01.17" are no upload's header.
    const Parsed<long> v = parseScaledDecimal(text, 100, -32768, 32767);
    if (!v || settingsVersionText(static_cast<int>(*v)) != text) return false;
    firmware = static_cast<int>(*v);
    return true;
}

bool parseHeader(std::string_view line, SettingsFileContents& c) {
    if (line.substr(0, kHeaderStart.size()) != kHeaderStart) return false;
    line.remove_prefix(kHeaderStart.size());
    const auto ver = line.find(kHeaderVersion);
    if (ver == std::string_view::npos) return false;
    const Parsed<long> serial = parseUnsigned16(line.substr(0, ver));
    if (!serial) return false;
    c.serialNumber = static_cast<int>(*serial);
    return parseVersion(line.substr(ver + kHeaderVersion.size()), c.firmware);
}

bool refuse(SettingsFileError& error, int line, std::string reason) {
    error.line = line;
    error.reason = std::move(reason);
    return false;
}

}  // namespace

std::string SettingsFileError::text() const {
    return line > 0 ? "line " + std::to_string(line) + ": " + reason : reason;
}

namespace {

bool parseInto(std::string_view bytes, SettingsFileContents& contents, SettingsFileError& error) {
    if (bytes.size() > kSettingsFileMaxBytes)
        return refuse(error, 0, "the file is larger than 64 KB, which no settings file is");
    if (bytes.empty()) return refuse(error, 1, "the file is empty");

    // Lines end with LF, the CR before it is part of the ending; the last line may have none.
    std::vector<std::string_view> lines;
    for (std::size_t at = 0; at < bytes.size();) {
        std::size_t end = bytes.find('\n', at);
        const std::size_t next = end == std::string_view::npos ? bytes.size() : end + 1;
        if (end == std::string_view::npos) end = bytes.size();
        std::string_view line = bytes.substr(at, end - at);
        if (end < bytes.size() && !line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        at = next;
    }

    if (!parseHeader(lines[0], contents)) {
        return refuse(error, 1,
                      "not a settings file header: expected \"Dravo SN: <serial number> ver. "
                      "<version>\", found " +
                          quoted(lines[0]));
    }
    contents.rows = settingsFileRows(contents.firmware);
    const std::string firmwareText = "firmware " + settingsVersionText(contents.firmware);
    if (lines.size() < 2 || !lines[1].empty()) {
        return refuse(error, 2,
                      lines.size() < 2 ? "the file ends after its header"
                                       : "expected an empty line, found " + quoted(lines[1]));
    }

    std::vector<int> lineOf(kParameterCount, 0);  // by name index: where its row was
    int rows = 0;
    for (std::size_t k = 2; k < lines.size(); ++k) {
        const int lineNo = static_cast<int>(k) + 1;
        const std::string_view line = lines[k];
        if (rows == contents.rows) {
            return refuse(error, lineNo,
                          "text after the last row (" + firmwareText + " files have " +
                              std::to_string(contents.rows) + " rows): " + quoted(line));
        }
        const auto comma = line.find(',');
        if (comma == std::string_view::npos)
            return refuse(error, lineNo, "expected name,value, found " + quoted(line));
        const std::string_view name = line.substr(0, comma);
        const std::string_view value = line.substr(comma + 1);
        const int reference = findParameter(name);
        if (reference == 0) return refuse(error, lineNo, "unknown name " + quoted(name));
        const int index = reference - 1;
        if (index >= contents.rows) {
            return refuse(error, lineNo,
                          std::string(name) + " is not a row of " + firmwareText + " files (they " +
                              "have " + std::to_string(contents.rows) + " rows)");
        }
        if (lineOf[static_cast<std::size_t>(index)] != 0) {
            return refuse(error, lineNo,
                          std::string(name) + " repeated (first on line " +
                              std::to_string(lineOf[static_cast<std::size_t>(index)]) + ")");
        }
        const Parsed<long> v = parseUnsigned16(value);
        if (!v) {
            return refuse(error, lineNo,
                          "the value of " + std::string(name) + ", " + quoted(value) + ", is not " +
                              v.expected);
        }
        lineOf[static_cast<std::size_t>(index)] = lineNo;
        contents.image[static_cast<std::size_t>(index)] =
            static_cast<std::int16_t>(static_cast<std::uint16_t>(*v));
        ++rows;
    }
    if (rows < contents.rows) {
        return refuse(error, static_cast<int>(lines.size()) + 1,
                      "the file ends after " + std::to_string(rows) + " rows; " + firmwareText +
                          " files have " + std::to_string(contents.rows));
    }
    // The header was written from the version and serial_number rows: they must agree.
    const auto& image = contents.image;
    if (image[ref::version - 1] != static_cast<std::int16_t>(contents.firmware)) {
        return refuse(error, lineOf[ref::version - 1],
                      "version is " + std::to_string(static_cast<std::uint16_t>(image[1])) +
                          " but the header says ver. " + settingsVersionText(contents.firmware));
    }
    if (static_cast<std::uint16_t>(image[ref::serial_number - 1]) != contents.serialNumber) {
        return refuse(error, lineOf[ref::serial_number - 1],
                      "serial_number is " + std::to_string(static_cast<std::uint16_t>(image[2])) +
                          " but the header says SN: " + std::to_string(contents.serialNumber));
    }
    return true;
}

}  // namespace

bool parseSettingsFile(std::string_view bytes, SettingsFileContents& contents,
                       SettingsFileError& error) {
    // A refused file yields nothing, not the rows before the fault.
    SettingsFileContents parsed;
    error = SettingsFileError{};
    contents = SettingsFileContents{};
    if (!parseInto(bytes, parsed, error)) return false;
    contents = parsed;
    return true;
}

bool readSettingsFile(const std::string& path, SettingsFileContents& contents,
                      SettingsFileError& error) {
    contents = SettingsFileContents{};
    error = SettingsFileError{};
    // Not blocking: a pipe or a device chosen by mistake must not hang the program.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return refuse(error, 0, "cannot open it: " + std::string(std::strerror(errno)));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return refuse(error, 0, "it is not a file");
    }
    // One byte more than allowed tells a file that is too big, whatever it claims to be.
    std::string bytes(kSettingsFileMaxBytes + 1, '\0');
    std::size_t have = 0;
    int err = 0;
    while (have < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + have, bytes.size() - have);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) err = errno;
        if (n <= 0) break;
        have += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (err != 0) return refuse(error, 0, "cannot read it: " + std::string(std::strerror(err)));
    bytes.resize(have);
    return parseSettingsFile(bytes, contents, error);
}

}  // namespace kvx
