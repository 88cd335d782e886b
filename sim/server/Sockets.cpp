#include "sim/server/Sockets.h"

#include <errno.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace orvix::sim {

namespace {

std::string Describe(const std::string& what, int err) {
    return what + ": " + std::strerror(err);
}

bool Address(const std::string& path, sockaddr_un* addr, std::string* error) {
    std::memset(addr, 0, sizeof(*addr));
    addr->sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof(addr->sun_path)) {
        *error = "socket path too long: " + path;
        return false;
    }
    std::memcpy(addr->sun_path, path.data(), path.size());
    return true;
}

// Clears the way for a new socket at path: true when nothing is there or a dead socket was
// removed; false when a live server answers or the path is not a socket.
bool ClearStale(const std::string& path, int type, std::string* error) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) return true;
        *error = Describe(path, errno);
        return false;
    }
    if (!S_ISSOCK(st.st_mode) && !S_ISLNK(st.st_mode)) {
        *error = path + " exists and is not a socket; not touching it";
        return false;
    }
    sockaddr_un addr;
    if (!Address(path, &addr, error)) return false;
    const int probe = ::socket(AF_UNIX, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (probe < 0) {
        *error = Describe("socket", errno);
        return false;
    }
    const int rc = ::connect(probe, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr));
    const int err = errno;
    ::close(probe);
    // EAGAIN: a live server whose backlog is full.
    if (rc == 0 || err == EAGAIN || err == EINPROGRESS) {
        *error = "something already serves " + path +
                 " (another simulator, or the system's own service: run inside ./dev sandbox)";
        return false;
    }
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        *error = Describe("removing stale " + path, errno);
        return false;
    }
    return true;
}

int BindUnix(const std::string& path, int type, std::string* error) {
    sockaddr_un addr;
    if (!Address(path, &addr, error) || !ClearStale(path, type, error)) return -1;
    const int fd = ::socket(AF_UNIX, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        *error = Describe("socket", errno);
        return -1;
    }
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0) {
        *error = Describe("bind " + path, errno);
        ::close(fd);
        return -1;
    }
    if (type == SOCK_STREAM && ::listen(fd, 64) != 0) {
        *error = Describe("listen " + path, errno);
        ::close(fd);
        ::unlink(path.c_str());
        return -1;
    }
    return fd;
}

}  // namespace

int ListenUnix(const std::string& path, std::string* error) {
    return BindUnix(path, SOCK_STREAM, error);
}

int BindDatagram(const std::string& path, std::string* error) {
    const int fd = BindUnix(path, SOCK_DGRAM, error);
    // Any local process logs here, whoever it runs as.
    if (fd >= 0) ::chmod(path.c_str(), 0666);
    return fd;
}

bool MakeDirs(const std::string& path, std::string* error) {
    if (path.empty()) {
        *error = "empty folder name";
        return false;
    }
    for (size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos != path.size() && path[pos] != '/') continue;
        const std::string part = path.substr(0, pos);
        if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
            *error = Describe("mkdir " + part, errno);
            return false;
        }
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        *error = path + " is not a folder";
        return false;
    }
    return true;
}

OwnedPath::OwnedPath(std::string path) : mPath(std::move(path)) {
    struct stat st {};
    if (::lstat(mPath.c_str(), &st) == 0) {
        mDevice = st.st_dev;
        mInode = st.st_ino;
    } else {
        mPath.clear();
    }
}

void OwnedPath::remove() {
    if (mPath.empty()) return;
    struct stat st {};
    if (::lstat(mPath.c_str(), &st) == 0 && st.st_dev == mDevice && st.st_ino == mInode) {
        ::unlink(mPath.c_str());
    }
    mPath.clear();
}

}  // namespace orvix::sim
