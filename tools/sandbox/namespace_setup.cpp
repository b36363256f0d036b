#include "namespace_setup.h"

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>

#include "sys_error.h"

namespace {

void Mount(const char* source, const std::string& target, const char* type, unsigned long flags,
           const char* data = nullptr) {
    if (mount(source, target.c_str(), type, flags, data) != 0) {
        ThrowErrno(std::string("cannot mount ") + (source ? source : "") + " on " + target);
    }
}

void MakeDir(const std::string& path, mode_t mode) {
    if (mkdir(path.c_str(), mode) != 0 && errno != EEXIST) ThrowErrno("cannot create " + path);
}

void WriteFile(const std::string& path, const std::string& content) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) ThrowErrno("cannot create " + path);
    ssize_t n = write(fd, content.data(), content.size());
    close(fd);
    if (n != static_cast<ssize_t>(content.size())) ThrowErrno("cannot write " + path);
}

// A bind mount needs a target of the same kind: a file for a device node.
void BindFile(const std::string& source, const std::string& target) {
    WriteFile(target, "");
    Mount(source.c_str(), target, nullptr, MS_BIND);
}

void Symlink(const char* to, const std::string& at) {
    if (symlink(to, at.c_str()) != 0) ThrowErrno("cannot create the link " + at);
}

void MakeRaw(int fd) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) ThrowErrno("cannot read the pty settings");
    cfmakeraw(&t);
    cfsetispeed(&t, B115200);
    cfsetospeed(&t, B115200);
    if (tcsetattr(fd, TCSANOW, &t) != 0) ThrowErrno("cannot set the pty raw");
}

void AddDeviceNodes(const std::string& dev) {
    for (const char* name : {"null", "zero", "full", "random", "urandom", "tty"}) {
        BindFile(std::string("/dev/") + name, dev + "/" + name);
    }
    // The kernel finds the pty instance of a /dev/ptmx by its path; a
    // bind-mounted node loses that path, a link into pts keeps it.
    Symlink("pts/ptmx", dev + "/ptmx");
    // Shells and tools reach their own descriptors through these.
    Symlink("/proc/self/fd", dev + "/fd");
    Symlink("/proc/self/fd/0", dev + "/stdin");
    Symlink("/proc/self/fd/1", dev + "/stdout");
    Symlink("/proc/self/fd/2", dev + "/stderr");
}

}  // namespace

void EnterPrivateNamespaces() {
    if (unshare(CLONE_NEWNS | CLONE_NEWNET) != 0) ThrowErrno("cannot create mount and network namespaces");
    // Without this, mounts made below would travel back to the host's namespace.
    Mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE);
}

void BringUpLoopback() {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) ThrowErrno("cannot create a socket to configure lo");
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool ok = ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    ok = ok && ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    int err = errno;
    close(fd);
    errno = err;
    if (!ok) ThrowErrno("cannot bring up lo");
}

Pty OpenPty() {
    Pty pty;
    pty.master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty.master < 0) ThrowErrno("cannot open a pty");
    if (grantpt(pty.master) != 0 || unlockpt(pty.master) != 0) ThrowErrno("cannot unlock the pty");
    const char* name = ptsname(pty.master);
    if (!name) ThrowErrno("cannot name the pty slave");
    pty.slaveName = name;
    pty.slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty.slave < 0) ThrowErrno("cannot open " + pty.slaveName);
    // Until the daemon sets the port up, a cooked pty would echo the
    // simulator's bytes back to it, which no UART does.
    MakeRaw(pty.slave);
    return pty;
}

void BuildDev(const std::string& staging, const std::string& ptySlave) {
    Mount("tmpfs", staging, "tmpfs", MS_NOSUID, "mode=755,size=1m");
    AddDeviceNodes(staging);
    MakeDir(staging + "/pts", 0755);
    Mount("/dev/pts", staging + "/pts", nullptr, MS_BIND | MS_REC);
    MakeDir(staging + "/shm", 01777);
    Mount("tmpfs", staging + "/shm", "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777");
    BindFile(ptySlave, staging + "/ttyS0");
    Mount(staging.c_str(), "/dev", nullptr, MS_MOVE);
}

void FakeGpio() {
    Mount("tmpfs", "/sys/class", "tmpfs", MS_NOSUID | MS_NODEV | MS_NOEXEC, "mode=755,size=1m");
    MakeDir("/sys/class/gpio", 0755);
    MakeDir("/sys/class/gpio/gpio109", 0755);
    WriteFile("/sys/class/gpio/gpio109/direction", "in");
    WriteFile("/sys/class/gpio/gpio109/value", "1");
}

void BindHome(const std::string& homeDir) { Mount(homeDir.c_str(), "/home", nullptr, MS_BIND); }

void BindRun(const std::string& runDir) { Mount(runDir.c_str(), "/run", nullptr, MS_BIND); }

void MountSmallDir(const std::string& dir, int kb) {
    const std::string data = "mode=755,size=" + std::to_string(kb) + "k";
    Mount("tmpfs", dir, "tmpfs", MS_NOSUID | MS_NODEV, data.c_str());
}
