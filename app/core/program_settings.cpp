#include "app/core/program_settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <utility>

#include "base/command_line.h"
#include "base/small_file.h"
#include "model/typed_text.h"

namespace kvx {

namespace {

std::string withSlash(std::string dir) {
    if (dir.empty() || dir.back() != '/') dir += '/';
    return dir;
}

// The files are a few bytes; anything far larger is not ours. Refused whole rather than cut,
// so no setting is made up from part of it.
constexpr off_t kMaxFileSize = 64 * 1024;

bool readWhole(const std::string& path, std::string& out) {
    return readSmallFile(path, kMaxFileSize, out) == SmallFile::Read;
}

// Written beside the target and renamed over it, so a failed write never leaves half a file.
// On failure, error (when given) holds the errno that stopped it.
bool replaceWhole(const std::string& path, const std::string& text, int* error = nullptr) {
    const std::string tmp = path + ".tmp";
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (error) *error = errno;
        return false;
    }
    std::size_t done = 0;
    bool ok = true;
    while (done < text.size()) {
        const ssize_t w = ::write(fd, text.data() + done, text.size() - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            if (error) *error = w < 0 ? errno : ENOSPC;
            ok = false;
            break;
        }
        done += static_cast<std::size_t>(w);
    }
    if (::close(fd) != 0 && ok) {
        if (error) *error = errno;
        ok = false;
    }
    if (ok && ::rename(tmp.c_str(), path.c_str()) != 0) {
        if (error) *error = errno;
        ok = false;
    }
    if (!ok) ::unlink(tmp.c_str());
    return ok;
}

bool isKeyChar(unsigned char c) {
    return std::isalnum(c) || c == '_' || c == '.' || c == '-';
}

std::string trimBlanks(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t'))
        ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t'))
        --e;
    return s.substr(b, e - b);
}

}  // namespace

KeyValueFile KeyValueFile::parse(const std::string& text, std::vector<Problem>* problems) {
    KeyValueFile file;
    std::size_t pos = 0;
    int number = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        Line line{text.substr(pos, end - pos), {}};
        pos = end + 1;
        ++number;
        auto problem = [&](std::string what) {
            if (problems) problems->push_back({number, std::move(what)});
        };
        std::string body = line.text;
        if (!body.empty() && body.back() == '\r') body.pop_back();
        const std::string trimmed = trimBlanks(body);
        if (trimmed.empty() || trimmed[0] == '#') {
            file.lines_.push_back(std::move(line));
            continue;
        }
        const std::size_t eq = trimmed.find('=');
        const std::string key = trimBlanks(trimmed.substr(0, eq == std::string::npos ? 0 : eq));
        bool keyOk = eq != std::string::npos && !key.empty();
        for (unsigned char c : key)
            keyOk = keyOk && isKeyChar(c);
        bool textOk = true;
        for (unsigned char c : trimmed)
            textOk = textOk && (c >= 0x20 || c == '\t') && c != 0x7F;
        if (!keyOk) {
            problem("not a setting (key = value): \"" + cli::printable(trimmed) + "\"");
        } else if (!textOk) {
            problem("control characters in the value of " + key);
        } else {
            line.key = key;
        }
        file.lines_.push_back(std::move(line));
    }
    return file;
}

bool KeyValueFile::get(const std::string& key, std::string& value, int* line) const {
    for (std::size_t i = lines_.size(); i-- > 0;) {
        if (lines_[i].key != key) continue;
        std::string body = lines_[i].text;
        if (!body.empty() && body.back() == '\r') body.pop_back();
        value = trimBlanks(body.substr(body.find('=') + 1));
        if (line) *line = static_cast<int>(i) + 1;
        return true;
    }
    return false;
}

void KeyValueFile::set(const std::string& key, const std::string& value) {
    for (std::size_t i = lines_.size(); i-- > 0;) {
        if (lines_[i].key != key) continue;
        const bool crlf = !lines_[i].text.empty() && lines_[i].text.back() == '\r';
        lines_[i].text = key + " = " + value + (crlf ? "\r" : "");
        return;
    }
    lines_.push_back({key + " = " + value, key});
}

std::string KeyValueFile::text() const {
    std::string out;
    for (const Line& l : lines_)
        out += l.text + '\n';
    return out;
}

bool parseSwitch(const std::string& value, bool& out) {
    std::string v;
    for (unsigned char c : value)
        v += static_cast<char>(std::tolower(c));
    if (v == "yes" || v == "true" || v == "on" || v == "1") {
        out = true;
        return true;
    }
    if (v == "no" || v == "false" || v == "off" || v == "0") {
        out = false;
        return true;
    }
    return false;
}

void readOptionsFile(const std::string& dir, ProgramSettings& settings,
                     std::vector<std::string>& problems) {
    const std::string path = withSlash(dir) + kOptionsFileName;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 && errno == ENOENT) return;
    std::string text;
    if (!readWhole(path, text)) {
        problems.push_back(path + ": cannot be read (not a regular file of at most 64 kB)");
        return;
    }
    std::vector<KeyValueFile::Problem> found;
    const KeyValueFile file = KeyValueFile::parse(text, &found);
    for (const auto& p : found)
        problems.push_back(path + " line " + std::to_string(p.line) + ": " + p.what);
    std::string value;
    int line = 0;
    if (file.get(kReconnectKey, value, &line) &&
        !parseSwitch(value, settings.reconnectAutomatically)) {
        problems.push_back(path + " line " + std::to_string(line) + ": " + kReconnectKey +
                           " is \"" + cli::printable(value) + "\", not yes or no");
    }
    // The files are only named here; whether they can be read (and the key is private) is
    // checked when a modbus-tls port is opened, which says what is wrong with which.
    // The broker's files the same way: the credentials file's permissions are checked when
    // the broker is opened.
    const std::pair<const char*, std::string*> tlsKeys[] = {
        {kTlsCaFileKey, &settings.tls.ca},
        {kTlsCertFileKey, &settings.tls.cert},
        {kTlsKeyFileKey, &settings.tls.key},
        {kBrokerCaFileKey, &settings.brokerCaFile},
        {kBrokerCredentialsKey, &settings.brokerCredentialsFile},
    };
    for (const auto& [key, target] : tlsKeys) {
        if (!file.get(key, value) || value.empty()) continue;
        *target = value.front() == '/' ? value : withSlash(dir) + value;
    }
    // The URL is checked where it is used, where the dialog can say what is wrong with it.
    if (file.get(kBrokerUrlKey, value)) settings.brokerUrl = value;
}

bool writeOption(const std::string& dir, const std::string& key, const std::string& value,
                 std::string& why) {
    const std::string path = withSlash(dir) + kOptionsFileName;
    std::string text;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !readWhole(path, text)) {
        why = path + " cannot be read, so it is left as it is";
        return false;
    }
    KeyValueFile file = KeyValueFile::parse(text);
    file.set(key, value);
    int error = 0;
    if (!replaceWhole(path, file.text(), &error)) {
        why = path + ": " + std::strerror(error);
        return false;
    }
    return true;
}

bool createProgramDirectory(const std::string& dir) {
    std::string path;
    std::size_t pos = 0;
    while (pos < dir.size()) {
        const std::size_t next = dir.find('/', pos + 1);
        path = dir.substr(0, next == std::string::npos ? dir.size() : next);
        if (!path.empty() && path != "/") ::mkdir(path.c_str(), 0755);
        if (next == std::string::npos) break;
        pos = next;
    }
    struct stat st {};
    return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool readCommFile(const std::string& dir, ProgramSettings& settings) {
    std::string text;
    if (!readWhole(withSlash(dir) + kCommFileName, text)) return false;
    std::istringstream in(text);
    std::string port, slave;
    if (!(in >> port)) return true;
    settings.portName = port;
    if (!(in >> slave)) return true;
    // Like a "%d" conversion: the leading number counts, trailing text does not.
    if (const Parsed<long> v = parseLeadingWholeNumber(slave, -2147483647L - 1, 2147483647L))
        settings.slaveId = static_cast<int>(*v);
    return true;
}

std::string commFileText(const ProgramSettings& settings) {
    return settings.portName + " " + std::to_string(settings.slaveId);
}

bool writeCommFile(const std::string& dir, const ProgramSettings& settings) {
    return replaceWhole(withSlash(dir) + kCommFileName, commFileText(settings));
}

bool readScalingFile(const std::string& dir, ProgramSettings& settings) {
    std::string text;
    if (!readWhole(withSlash(dir) + kScalingFileName, text)) return false;
    std::istringstream in(text);
    std::string token;
    // The dialog writes the low 16 bits as unsigned, so 65535 reads back as -1.
    if (!(in >> token)) return true;
    const Parsed<std::int16_t> min = parseRegisterWord(token);
    if (!min) return true;
    settings.speedMin = *min;
    if (!(in >> token)) return true;
    if (const Parsed<std::int16_t> max = parseRegisterWord(token)) settings.speedMax = *max;
    return true;
}

std::string scalingFileText(const ProgramSettings& settings) {
    return std::to_string(static_cast<std::uint16_t>(settings.speedMin)) + " " +
           std::to_string(static_cast<std::uint16_t>(settings.speedMax));
}

bool writeScalingFile(const std::string& dir, const ProgramSettings& settings) {
    return replaceWhole(withSlash(dir) + kScalingFileName, scalingFileText(settings));
}

}  // namespace kvx
