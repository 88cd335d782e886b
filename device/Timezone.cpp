// The timezone, carried from the device to the receiver and applied from the receiver to the
// device's zone link, timezone file and settings.
#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "core/CastController.h"
#include "core/Constants.h"
#include "core/Log.h"
#include "device/ZoneName.h"

namespace {

const std::string kZoneInfoDir = "/usr/share/zoneinfo/";

// Points linkPath at target the way "ln -sf" would, but without a shell and without a moment
// where the link is missing: a new link is made beside it and renamed over it. On failure the
// reason is returned and no temporary link is left behind.
std::string ReplaceSymlink(const std::string& target, const std::string& linkPath) {
    std::string temporary = linkPath + ".new." + std::to_string(getpid());
    unlink(temporary.c_str());
    if (symlink(target.c_str(), temporary.c_str()) != 0) {
        return std::string("symlink: ") + std::strerror(errno);
    }
    if (rename(temporary.c_str(), linkPath.c_str()) != 0) {
        std::string reason = std::string("rename: ") + std::strerror(errno);
        unlink(temporary.c_str());
        return reason;
    }
    return "";
}

struct flock WholeFileLock(short type) {
    struct flock lock = {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;
    lock.l_pid = getpid();
    return lock;
}

}  // namespace

void CastController::HandleOEMTimezoneData() {
    orvix::Log(LOG_INFO, "castcontroller: %s() Set Timezone request!", __func__);
    std::shared_ptr<chromecast::CastControl> control = castControl();
    if (control == nullptr) {
        orvix::Log(LOG_NOTICE,
                   "castcontroller: %s() cast control is unreachable! update while accepting ToS",
                   __func__);
        return;
    }
    std::string zone;
    GetEnvItemByName(kTimeZone, zone);
    if (zone.empty()) {
        orvix::Log(LOG_ERR, "castcontroller: %s() Timezone data is empty! data:'%s'", __func__,
                   zone.c_str());
        return;
    }
    mTimezoneRequestId = control->SetTimezone(zone);
    if (mTimezoneRequestId != -1) {
        mTimezone = zone;
    }
    orvix::Log(LOG_NOTICE, "castcontroller: %s() timezone:%s request id:%d", __func__, zone.c_str(),
               mTimezoneRequestId);
}

void CastController::HandleCastTimezoneData(const std::string& zone) {
    // No shell runs this command: the zone comes from the network by way of the receiver, and
    // a shell would read it as shell text. The link is made directly below; the command's text
    // is kept because it is what the log lines report.
    std::string command = "ln -sf " + kZoneInfoDir + zone + " " + kLocalTimeLinkPath;
    if (!IsZoneName(zone)) {
        orvix::Log(LOG_ERR, "castcontroller: %s() Failed to point to new timezone, command: %s",
                   __func__, command.c_str());
        return;
    }
    // Like the command's exit status, a link the file system refuses does not stop the file
    // and setting steps below; it is reported, so that a device whose clock stays on the old
    // zone says why.
    const std::string failure = ReplaceSymlink(kZoneInfoDir + zone, kLocalTimeLinkPath);
    if (!failure.empty()) {
        orvix::Log(LOG_ERR, "castcontroller: %s() Failed to link %s to %s: %s", __func__,
                   kLocalTimeLinkPath.c_str(), (kZoneInfoDir + zone).c_str(), failure.c_str());
    }
    orvix::Log(LOG_NOTICE,
               "castcontroller: %s() Successfully pointed to timezone configured in GHome! "
               "Command: %s",
               __func__, command.c_str());

    int fd = open(kTimezoneFilePath.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        orvix::Log(LOG_ERR, "castcontroller: %s() Failed to access file:%s", __func__,
                   kTimezoneFilePath.c_str());
        return;
    }
    struct flock lock = WholeFileLock(F_WRLCK);
    if (fcntl(fd, F_SETLKW, &lock) != 0) {
        orvix::Log(LOG_ERR, "castcontroller: %s() Failed to acquire lock on:%s", __func__,
                   kTimezoneFilePath.c_str());
        close(fd);
        return;
    }
    struct flock unlock = WholeFileLock(F_UNLCK);
    std::ofstream stream(kTimezoneFilePath, std::ios::out | std::ios::trunc);
    if (!stream.is_open()) {
        orvix::Log(LOG_ERR, "castcontroller: %s() Failed to write data to file:%s", __func__,
                   kTimezoneFilePath.c_str());
        fcntl(fd, F_SETLK, &unlock);
        close(fd);
        return;
    }
    stream << zone;
    stream.flush();
    // Unlock before closing the stream: closing any descriptor of the file would drop the
    // lock anyway, and it must cover the write.
    fcntl(fd, F_SETLK, &unlock);
    stream.close();
    close(fd);

    mTimezone = zone;
    SetEnvItemByName(kTimeZone, mTimezone);
    android::SleepUs(100);
}
