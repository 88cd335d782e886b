// A timezone chosen on the receiver applied to the device: the zone link, the timezone file
// under its lock, the setting and the remembered zone. These use the real /data/time and run
// only inside the private sandbox (scripts/in-sandbox.sh).
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/DaemonTest.h"

namespace orvix::test {
namespace {

namespace fs = std::filesystem;
using android::AMessage;
using android::sp;
using fakes::WaitFor;

const char kPeerLock[] = "/tmp/peer-lock";

std::string ReadFile(const std::string& path) {
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return fs::is_regular_file(path) ? text.str() : "<no file>";
}

// Lines of /proc/locks on the file's inode; "->" marks a request that waits.
size_t LockLines(const std::string& path, bool waiting) {
    struct stat st = {};
    if (stat(path.c_str(), &st) != 0) return 0;
    const std::string inode = ":" + std::to_string(st.st_ino) + " ";
    std::ifstream locks("/proc/locks");
    size_t n = 0;
    for (std::string line; std::getline(locks, line);) {
        n += line.find(inode) != std::string::npos &&
             (line.find("->") != std::string::npos) == waiting;
    }
    return n;
}

bool Lock(int fd, short type, int command) {
    struct flock lock = {};
    lock.l_type = type;
    return fcntl(fd, command, &lock) == 0;
}

class CastTimezoneTest : public DaemonTest {
protected:
    void SetUp() override {
        if (getenv("ORVIX_IN_SANDBOX") == nullptr) {
            GTEST_SKIP() << "writes /data/time: run through scripts/in-sandbox.sh";
        }
        reset();
        startLooperAndBus();
    }

    // A link to a folder (a link made "into" it would leave the old one), a longer zone in
    // the file (a missing truncation would show).
    void reset() {
        for (const auto& entry : fs::directory_iterator("/data/time")) fs::remove_all(entry);
        fs::create_symlink("/usr/share/zoneinfo/America", kLocalTimeLinkPath);
        std::ofstream(kTimezoneFilePath) << "America/Argentina/Buenos_Aires";
    }

    bool castZone(const std::string& zone, bool wait = true) {
        sp<AMessage> msg = new AMessage(kWhatCastStatus, controller().handlerId());
        msg->setString(kKeyTimezone, zone.c_str(), static_cast<ssize_t>(zone.size()));
        msg->post();
        return !wait || settle();
    }

    // The link | the file | the setting | the remembered zone, and strays.
    std::string state() {
        std::error_code error;
        std::string out = fs::read_symlink(kLocalTimeLinkPath, error).string() + " | " +
                          ReadFile(kTimezoneFilePath) + " | " +
                          world().settings().value(kTimeZone) + " | " +
                          CastControllerPeer::timezone(controller());
        for (const auto& entry : fs::directory_iterator("/data/time")) {
            const std::string name = entry.path().filename();
            if (name != "localtime" && name != "timezone") out += " | stray " + name;
        }
        return out;
    }
};

}  // namespace

TEST_F(CastTimezoneTest, ZoneNamesMoveTheLinkTheFileAndTheSettingOthersChangeNothing) {
    const std::pair<std::string, bool> rows[] = {
        {"Europe/Berlin;touch /tmp/ran", false},
        {"$(touch /tmp/ran)", false},
        {"`touch /tmp/ran`", false},
        {"Europe/Berlin /tmp/ran", false},
        {"Europe/Berlin\ntouch /tmp/ran", false},
        {"../../../tmp/ran", false},
        {"Europe/../../../../tmp/ran", false},
        {"/etc/passwd", false},
        {"Europe//Berlin", false},
        {"Europe/", false},
        {".hidden", false},
        {"Europe/.x", false},
        {"-n", false},
        {"Europe/-x", false},
        {std::string(256, 'A'), false},
        {"America/New_York", true},
        {"Etc/GMT+5", true},
        {"America/Port-au-Prince", true},
        {"America/Argentina/Salta", true},
        {std::string(255, 'A'), true},
    };
    std::string expected = state();
    for (const auto& [zone, valid] : rows) {
        SCOPED_TRACE("zone '" + zone + "'");
        log.clear();
        ASSERT_TRUE(castZone(zone));
        if (valid)
            expected = "/usr/share/zoneinfo/" + zone + " | " + zone + " | " + zone + " | " + zone;
        EXPECT_EQ(state(), expected);
        EXPECT_EQ(
            log.has("Failed to point to new timezone, command: ln -sf /usr/share/zoneinfo/" + zone,
                    LOG_ERR),
            !valid);
    }
    EXPECT_EQ(effects("setting:").size(), 5u);
    EXPECT_FALSE(fs::exists("/tmp/ran"));
    EXPECT_FALSE(log.has("Failed to link"));
    // The zone already applied is not applied again.
    std::ofstream(kTimezoneFilePath) << "UTC";
    ASSERT_TRUE(castZone(std::string(255, 'A')));
    EXPECT_EQ(ReadFile(kTimezoneFilePath), "UTC");
}

TEST_F(CastTimezoneTest, WithoutTheFileOnlyTheLinkChangesAndTheNextStatusTriesAgain) {
    fs::remove(kTimezoneFilePath);
    ASSERT_TRUE(castZone("Asia/Tokyo"));
    EXPECT_EQ(state(), "/usr/share/zoneinfo/Asia/Tokyo | <no file> |  | ");
    EXPECT_TRUE(log.has("Failed to access file:/data/time/timezone", LOG_ERR));
    std::ofstream(kTimezoneFilePath) << "";
    ASSERT_TRUE(castZone("Asia/Tokyo"));
    EXPECT_EQ(state(), "/usr/share/zoneinfo/Asia/Tokyo | Asia/Tokyo | Asia/Tokyo | Asia/Tokyo");
}

// Another process holds the file's lock while the daemon asks for it. It then waits for a
// lock this process holds (the kernel refuses the daemon's request as a deadlock), or the
// file's path is taken by a folder while the daemon waits (its stream cannot open), or it
// lets go and the daemon goes on.
TEST_F(CastTimezoneTest, TheFileIsWrittenUnderItsLockOrNotAtAll) {
    const std::string tokyo = "/usr/share/zoneinfo/Asia/Tokyo";
    const struct {
        char mode;  // 'd' deadlock, 's' no stream, 'w' wait
        const char* error;
        std::string state;
    } rows[] = {
        {'d', "Failed to acquire lock on:/data/time/timezone",
         tokyo + " | America/Argentina/Buenos_Aires |  | "},
        {'s', "Failed to write data to file:/data/time/timezone",
         tokyo + " | <no file> |  |  | stray timezone.old"},
        {'w', nullptr, tokyo + " | Asia/Tokyo | Asia/Tokyo | Asia/Tokyo"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(1, row.mode));
        reset();
        log.clear();
        std::ofstream(kPeerLock) << "";
        const int peer = open(kPeerLock, O_RDWR | O_CLOEXEC);
        ASSERT_TRUE(peer >= 0 && (row.mode != 'd' || Lock(peer, F_WRLCK, F_SETLK)));
        int release[2];
        ASSERT_EQ(pipe2(release, O_CLOEXEC), 0);
        const char* path = kTimezoneFilePath.c_str();
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Only async-signal-safe calls in the child of a threaded process.
            close(release[1]);
            const int fd = open(path, O_RDWR);
            const int other = open(kPeerLock, O_RDWR);
            char byte;
            _exit(fd >= 0 && Lock(fd, F_WRLCK, F_SETLK) && Lock(other, F_WRLCK, F_SETLKW) &&
                          read(release[0], &byte, 1) == 0
                      ? 0
                      : 1);
        }
        close(release[0]);
        const bool held = WaitFor([&] {
            return LockLines(kTimezoneFilePath, false) == 1 &&
                   LockLines(kPeerLock, true) == (row.mode == 'd' ? 1u : 0u);
        });
        if (held) {
            castZone("Asia/Tokyo", row.mode == 'd');
            if (row.mode != 'd') {
                EXPECT_TRUE(WaitFor([&] { return LockLines(kTimezoneFilePath, true) == 1; }));
                EXPECT_EQ(ReadFile(kTimezoneFilePath), "America/Argentina/Buenos_Aires");
            }
            if (row.mode == 's') {
                fs::rename(kTimezoneFilePath, "/data/time/timezone.old");
                fs::create_directory(kTimezoneFilePath);
            }
        }
        // Whatever was seen, the child must let go, or the looper would never end.
        Lock(peer, F_UNLCK, F_SETLK);
        close(peer);
        close(release[1]);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(held);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        ASSERT_TRUE(settle());
        EXPECT_EQ(state(), row.state);
        EXPECT_TRUE(!row.error || log.has(row.error, LOG_ERR));
        EXPECT_EQ(ReadFile("/data/time/timezone.old"),
                  row.mode == 's' ? "America/Argentina/Buenos_Aires" : "<no file>");
    }
}

// A link the file system refuses is reported with its reason, leaves no temporary link, and
// the file and the setting still follow.
TEST_F(CastTimezoneTest, ALinkThatCannotBeMadeIsReportedAndTheRestGoesOn) {
    const std::string temporary = "localtime.new." + std::to_string(getpid());
    const struct {
        const char* zone;
        std::string folder;  // made non-empty in the way
        const char* reason;
        std::string link, strays;
    } rows[] = {
        {"Asia/Tokyo", kLocalTimeLinkPath, "rename: ", "", ""},
        {"Europe/Paris", "/data/time/" + temporary, "symlink: ", "/usr/share/zoneinfo/America",
         " | stray " + temporary},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.zone);
        reset();
        log.clear();
        fs::remove(row.folder);
        fs::create_directories(row.folder + "/inside");
        ASSERT_TRUE(castZone(row.zone));
        const std::string zone = row.zone;
        EXPECT_EQ(state(), row.link + " | " + zone + " | " + zone + " | " + zone + row.strays);
        EXPECT_TRUE(
            log.has(std::string("Failed to link /data/time/localtime to /usr/share/zoneinfo/") +
                        zone + ": " + row.reason,
                    LOG_ERR));
    }
}

}  // namespace orvix::test
