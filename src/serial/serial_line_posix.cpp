#include "serial/serial_line_posix.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "base/eintr_posix.h"
#include "base/unique_fd_posix.h"
#include "serial/device_access_posix.h"
#include "serial/tape_line.h"

namespace kestrel::serial {
namespace {

SerialLine::OpenError Failed(SerialLine::Failure failure, const std::string& device,
                             const std::string& cause) {
    return {failure, "cannot open " + device + ": " + cause};
}

static_assert(kTapeLineBaud == 115200 && kTapeLineBitsPerByte == 11,
              "the termios settings below are the tape line's");

// Raw 115200 8N2 without flow control: the bytes pass untouched both ways, a read
// returns whatever has arrived (VMIN 0, VTIME 0), and the modem lines neither gate
// the line nor hang it up.
void MakeTapeLine(termios& line) {
    line.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                           ICRNL | IXON | IXOFF | IXANY | INPCK);
    line.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    line.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    line.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CRTSCTS);
    line.c_cflag |= CS8 | CSTOPB | CLOCAL | CREAD;
    line.c_cc[VMIN] = 0;
    line.c_cc[VTIME] = 0;
    cfsetispeed(&line, B115200);
    cfsetospeed(&line, B115200);
}

}  // namespace

std::variant<SerialLine, SerialLine::OpenError> SerialLine::Open(const std::string& device) {
    base::UniqueFd line(
        base::OpenRetrying(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!line) {
        const int error = errno;
        if (error == ENOENT || error == ENXIO || error == ENODEV) {
            return Failed(Failure::kMissing, device, "no such device");
        }
        if (error == EBUSY) {
            return Failed(Failure::kBusy, device, "the port is in use by another program");
        }
        if (error == EACCES || error == EPERM) {  // the reason, then what the user can do
            const std::string advice = PermissionAdviceFor(device);
            return Failed(Failure::kOther, device,
                          std::strerror(error) + (advice.empty() ? "" : "; " + advice));
        }
        return Failed(Failure::kOther, device, std::strerror(error));
    }
    termios saved{};
    if (tcgetattr(line.get(), &saved) != 0) {
        const int error = errno;
        if (error == ENOTTY || error == EINVAL) {
            return Failed(Failure::kNotSerial, device, "not a serial line");
        }
        return Failed(Failure::kOther, device, std::strerror(error));
    }
    if (base::FlockRetrying(line.get(), LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error == EWOULDBLOCK) {
            return Failed(Failure::kBusy, device, "the port is in use by another program");
        }
        return Failed(Failure::kOther, device, std::string("cannot lock: ") + std::strerror(error));
    }
    if (ioctl(line.get(), TIOCEXCL) != 0) {
        return Failed(Failure::kOther, device,
                      std::string("cannot take for exclusive use: ") + std::strerror(errno));
    }
    termios wanted = saved;
    MakeTapeLine(wanted);
    if (base::TcsetattrRetrying(line.get(), TCSANOW, wanted) != 0) {
        const int error = errno;
        ioctl(line.get(), TIOCNXCL);
        return Failed(Failure::kOther, device,
                      std::string("cannot set 115200 8N2: ") + std::strerror(error));
    }
    // Many adapters and remote machines want DTR and RTS up; a pty has no modem lines
    // and refuses, which is no fault.
    int modem_lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(line.get(), TIOCMBIS, &modem_lines);
    return SerialLine(std::move(line), saved);
}

SerialLine::SerialLine(SerialLine&& other) noexcept
    : fd_(std::move(other.fd_)), saved_(other.saved_) {}

SerialLine::~SerialLine() {
    if (!fd_) {
        return;
    }
    const int fd = fd_.get();
    // Only output still queued (a write given up) is thrown away: flushing a pty's
    // output throws away what the far end has not read yet, the end byte included.
    int queued = 0;
#ifdef TIOCOUTQ
    if (ioctl(fd, TIOCOUTQ, &queued) != 0) {
        queued = 0;
    }
#endif
    if (queued > 0) {
        tcflush(fd, TCOFLUSH);
    }
    base::TcsetattrRetrying(fd, TCSANOW, saved_);
    ioctl(fd, TIOCNXCL);
    // fd_ closes the descriptor, which also lets go of the flock.
}

}  // namespace kestrel::serial
