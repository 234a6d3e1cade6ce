#include "link/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <ctime>

namespace kvx {
namespace {

std::int64_t monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

struct SpeedEntry {
    int rate;
    speed_t code;
};

constexpr SpeedEntry kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B500000
    {500000, B500000},   {576000, B576000},   {921600, B921600},   {1000000, B1000000},
    {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000},
#endif
#ifdef B4000000
    {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
#endif
};

// 0 when the rate has no termios code: the device cannot be set to it.
speed_t speedCode(int rate) {
    for (const SpeedEntry& entry : kSpeeds) {
        if (entry.rate == rate) return entry.code;
    }
    return 0;
}

int classifyOpenError(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
        case ENODEV:
        case ENXIO:
            return SP_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EBUSY:
            return SP_ACCESS_DENIED;
        default:
            return SP_IO_FAILURE;
    }
}

// Waits until the descriptor is ready for `events` or the deadline passes. Returns 1 when ready,
// 0 at the deadline, -1 when the descriptor failed.
int waitReady(int fd, short events, std::int64_t deadlineNs) {
    for (;;) {
        const std::int64_t remaining = deadlineNs - monotonicNs();
        if (remaining <= 0) return 0;
        pollfd entry{fd, events, 0};
        const timespec wait{static_cast<time_t>(remaining / 1000000000),
                            static_cast<long>(remaining % 1000000000)};
        const int ready = ppoll(&entry, 1, &wait, nullptr);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (ready == 0) continue;  // the loop re-checks the clock: never end before the deadline
        if (entry.revents & POLLNVAL) return -1;
        // POLLHUP and POLLERR are left to the next transfer call, which reports them.
        return 1;
    }
}

// Sleeps until the deadline, cut short only by a hang-up or an error on the descriptor (which
// the next transfer call reports): incoming bytes do not wake it.
void sleepUnlessHungUp(int fd, std::int64_t untilNs) {
    for (;;) {
        const std::int64_t remaining = untilNs - monotonicNs();
        if (remaining <= 0) return;
        pollfd entry{fd, 0, 0};
        const timespec wait{static_cast<time_t>(remaining / 1000000000),
                            static_cast<long>(remaining % 1000000000)};
        const int ready = ppoll(&entry, 1, &wait, nullptr);
        if (ready < 0 && errno == EINTR) continue;
        if (ready != 0) return;
    }
}

// Drops unread input, and output only while some is still queued. A pseudo-terminal reports no
// queued output: what was written is already on its way to the other end, and flushing it there
// would destroy a request (a broadcast, say) the peer has not yet picked up.
bool discardBuffers(int fd) {
    bool ok = tcflush(fd, TCIFLUSH) == 0;
    int queued = 0;
    if (ioctl(fd, TIOCOUTQ, &queued) != 0 || queued > 0) ok = tcflush(fd, TCOFLUSH) == 0 && ok;
    return ok;
}

}  // namespace

SerialPort::~SerialPort() {
    close();
}

int SerialPort::open(const char* portName) {
    if (isOpen()) close();
    openError = 0;
    if (portName == nullptr || portName[0] == '\0') {
        openError = ENOENT;
        return SP_NOT_FOUND;
    }

    // Non-blocking so that opening never waits for carrier and every wait is our own poll().
    const int fd = ::open(portName, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        openError = errno;
        return classifyOpenError(openError);
    }

    // TIOCEXCL keeps out other users but not root; the advisory lock keeps out everyone who
    // opens ports the same way (a second instance of this program, most serial tools).
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        openError = error;
        return error == EWOULDBLOCK ? SP_ACCESS_DENIED : SP_IO_FAILURE;
    }
    ioctl(fd, TIOCEXCL);  // fails harmlessly on something that is not a terminal

    handle = fd;
    settingsSaved = false;
    if (tcgetattr(handle, &savedSettings) != 0) return SP_IO_FAILURE;
    settingsSaved = true;
    purge();
    return configure(9600, 8, 1, 0, 0);
}

int SerialPort::configure(int newBaudRate, int dataBits, int stopBits, int parity,
                          int newFlowControl) {
    if (!isOpen()) return SP_NOT_OPEN;
    termios settings{};
    if (tcgetattr(handle, &settings) != 0) return SP_IO_FAILURE;
    const termios before = settings;

    if (dataBits != 7 && dataBits != 8) return SP_BAD_SETTING;
    settings.c_cflag =
        (settings.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | (dataBits == 7 ? CS7 : CS8);

    if (stopBits == 1) {
        settings.c_cflag &= ~static_cast<tcflag_t>(CSTOPB);
    } else if (stopBits == 2) {
        settings.c_cflag |= CSTOPB;
    } else {
        return SP_BAD_SETTING;
    }

    if (parity == 0) {
        settings.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD);
        settings.c_iflag &= ~static_cast<tcflag_t>(INPCK);
    } else if (parity == 1) {
        settings.c_cflag |= PARENB | PARODD;
        settings.c_iflag |= INPCK;
    } else if (parity == 2) {
        settings.c_cflag = (settings.c_cflag | PARENB) & ~static_cast<tcflag_t>(PARODD);
        settings.c_iflag |= INPCK;
    } else {
        return SP_BAD_SETTING;
    }

    if (newFlowControl == 0) {
        settings.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
    } else if (newFlowControl == 1) {
        settings.c_cflag |= CRTSCTS;
    } else {
        return SP_BAD_SETTING;
    }
    settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);

    // Binary line: no echo, no line editing, no signals, no character translation, parity
    // errors delivered as a zero byte so the frame keeps its length and fails its CRC.
    settings.c_iflag &=
        ~static_cast<tcflag_t>(IGNBRK | BRKINT | IGNPAR | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL);
    settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    settings.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    settings.c_cflag |= CREAD | CLOCAL;
    // VMIN 1 makes an empty non-blocking read fail with EAGAIN, so a read of 0 means hang-up.
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;

    const speed_t speed = speedCode(newBaudRate);
    if (speed == 0) return SP_BAD_SETTING;
    cfsetispeed(&settings, speed);
    cfsetospeed(&settings, speed);

    if (tcsetattr(handle, TCSANOW, &settings) != 0) return SP_BAD_SETTING;
    // tcsetattr succeeds when any part was taken; a driver that kept another rate refused ours.
    termios applied{};
    if (tcgetattr(handle, &applied) != 0 || cfgetospeed(&applied) != speed) {
        tcsetattr(handle, TCSANOW, &before);
        return SP_BAD_SETTING;
    }

    baudRate = newBaudRate;
    flowControl = newFlowControl;
    // Start bit, data bits, parity bit, stop bits.
    const int bitsPerCharacter = 1 + dataBits + (parity != 0 ? 1 : 0) + stopBits;
    characterNs = static_cast<std::int64_t>(bitsPerCharacter) * 1000000000 / newBaudRate;
    // Without handshake RTS is held low, as a port opened with RTS control disabled does;
    // a pseudo-terminal has no RTS, so the result is ignored.
    if (flowControl == 0) setRts(false);
    return SP_OK;
}

void SerialPort::close() {
    if (!isOpen()) return;
    discardBuffers(handle);
    if (settingsSaved) tcsetattr(handle, TCSANOW, &savedSettings);
    ioctl(handle, TIOCNXCL);
    ::close(handle);  // also releases the lock
    handle = -1;
    settingsSaved = false;
}

int SerialPort::applyTimeouts(Direction direction, int timeoutMs) {
    timeouts = SerialTimeouts{};
    if (timeoutMs < 0) return SP_IO_FAILURE;
    if (direction == Direction::Read) {
        timeouts.readTotalTimeoutConstant = static_cast<std::uint32_t>(timeoutMs);
    } else {
        timeouts.writeTotalTimeoutConstant = static_cast<std::uint32_t>(timeoutMs);
    }
    return SP_OK;
}

int SerialPort::transfer(Direction direction, std::uint8_t* buffer, int count, int timeoutMs) {
    if (!isOpen()) return SP_NOT_OPEN;
    if (applyTimeouts(direction, timeoutMs) != SP_OK) return SP_IO_FAILURE;
    if (count < 0 || (count > 0 && buffer == nullptr)) return SP_IO_FAILURE;

    const std::uint32_t totalMs = direction == Direction::Read ? timeouts.readTotalTimeoutConstant
                                                               : timeouts.writeTotalTimeoutConstant;
    const std::int64_t deadline = monotonicNs() + static_cast<std::int64_t>(totalMs) * 1000000;
    const short events = direction == Direction::Read ? POLLIN : POLLOUT;
    int done = 0;
    bool failed = false;
    while (done < count) {
        const std::size_t want = static_cast<std::size_t>(count - done);
        const ssize_t n = direction == Direction::Read ? ::read(handle, buffer + done, want)
                                                       : ::write(handle, buffer + done, want);
        if (n > 0) {
            done += static_cast<int>(n);
            // Part of what is awaited has come and the rest is on its way: on a line at its
            // rate it cannot all be here before one character time per byte, so sleep that
            // long (never past the deadline) instead of waking for every byte the driver hands
            // over. What has come by then is taken as before; a line that stops or hangs up
            // meanwhile ends the same way, at the same deadline.
            if (direction == Direction::Read && done < count && characterNs > 0) {
                const std::int64_t rest = static_cast<std::int64_t>(count - done) * characterNs;
                sleepUnlessHungUp(handle, std::min(deadline, monotonicNs() + rest));
            }
            continue;
        }
        if (n == 0) {  // hang-up: the other end is gone
            failed = true;
            break;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            failed = true;
            break;
        }
        const int ready = waitReady(handle, events, deadline);
        if (ready == 0) break;
        if (ready < 0) {
            failed = true;
            break;
        }
    }
    if (direction == Direction::Read) readCount = done;
    // The count is judged first: a failed call that moved too few bytes is a time-out.
    if (done != count) return SP_TIMEOUT;
    return failed ? SP_IO_FAILURE : SP_OK;
}

int SerialPort::write(const std::uint8_t* buffer, int count, int timeoutMs) {
    // transfer() only reads from the buffer when writing.
    return transfer(Direction::Write, const_cast<std::uint8_t*>(buffer), count, timeoutMs);
}

int SerialPort::read(std::uint8_t* buffer, int count, int timeoutMs) {
    readCount = 0;
    return transfer(Direction::Read, buffer, count, timeoutMs);
}

int SerialPort::purge() {
    if (!isOpen()) return SP_NOT_OPEN;
    return discardBuffers(handle) ? SP_OK : SP_IO_FAILURE;
}

int SerialPort::drain() {
    if (!isOpen()) return SP_NOT_OPEN;
    if (flowControl != 0) return SP_NOT_SUPPORTED;
    timeouts = SerialTimeouts{};
    for (;;) {
        if (tcdrain(handle) == 0) return SP_OK;
        if (errno != EINTR) return SP_IO_FAILURE;
    }
}

int SerialPort::setRts(bool raised) {
    int bits = TIOCM_RTS;
    return ioctl(handle, raised ? TIOCMBIS : TIOCMBIC, &bits) == 0 ? SP_OK : SP_IO_FAILURE;
}

int SerialPort::raiseRts() {
    if (!isOpen()) return SP_NOT_OPEN;
    if (flowControl != 0) return SP_NOT_SUPPORTED;
    return setRts(true);
}

int SerialPort::lowerRts() {
    if (!isOpen()) return SP_NOT_OPEN;
    if (flowControl != 0) return SP_NOT_SUPPORTED;
    return setRts(false);
}

}  // namespace kvx
