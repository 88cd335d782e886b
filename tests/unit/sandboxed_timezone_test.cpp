// A timezone chosen on the receiver applied to the device: the zone link, the timezone file
// under its lock, the setting and the remembered zone. These use the real /data/time and run
// only inside the private sandbox (scripts/in-sandbox.sh).
#include <fcntl.h>
#include <signal.h>
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
        if (!getenv("ORVIX_IN_SANDBOX")) GTEST_SKIP() << "only under scripts/in-sandbox.sh";
        useManualClock();
        clock.setAutoAdvance(true);
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
    // clang-format off
    const std::pair<std::string, bool> rows[] = {
        {"Europe/Berlin;touch /tmp/ran", false}, {"$(touch /tmp/ran)", false}, {"-n", false},
        {"Europe/Berlin\ntouch /tmp/ran", false}, {"Europe/", false}, {"/etc/passwd", false},
        {"../../../tmp/ran", false}, {"Europe/../../../../tmp/ran", false},
        {std::string(256, 'A'), false}, {std::string(255, 'A'), true}, {"Etc/GMT+9", true},
        {"America/New_York", true}, {"Etc/GMT-10", true}, {"Europe/Zaporozhye", true},
    };
    // clang-format on
    std::string expected = state();
    for (const auto& [zone, valid] : rows) {
        ASSERT_TRUE(castZone(zone));
        if (valid)
            expected = "/usr/share/zoneinfo/" + zone + " | " + zone + " | " + zone + " | " + zone;
        EXPECT_EQ(state(), expected) << zone;
    }
    EXPECT_FALSE(fs::exists("/tmp/ran"));
    EXPECT_EQ(clock.sleeps(), std::vector<int64_t>(5, 100));  // after each zone applied
}

// Another process holds the file's lock while the daemon asks for it. It then waits for a
// lock this process holds (the kernel refuses the daemon's request as a deadlock), or the
// file's path is taken by a folder while the daemon waits (its stream cannot open), or it
// lets go and the daemon goes on.
TEST_F(CastTimezoneTest, TheFileIsWrittenUnderItsLockOrNotAtAll) {
    const std::string tokyo = "/usr/share/zoneinfo/Asia/Tokyo | ";
    // clang-format off
    const struct { char mode; std::string state; } rows[] = {
        {'d', tokyo + "America/Argentina/Buenos_Aires |  | "},
        {'s', tokyo + "<no file> |  |  | stray timezone.old"},
        {'w', tokyo + "Asia/Tokyo | Asia/Tokyo | Asia/Tokyo"},
    };
    // clang-format on
    for (const auto& row : rows) {
        reset();
        const int peer = open(kPeerLock, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_TRUE(peer >= 0 && (row.mode != 'd' || Lock(peer, F_WRLCK, F_SETLK)));
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Only async-signal-safe calls in the child of a threaded process.
            const int fd = open(kTimezoneFilePath.c_str(), O_RDWR), other = open(kPeerLock, O_RDWR);
            if (Lock(fd, F_WRLCK, F_SETLK)) Lock(other, F_WRLCK, F_SETLKW);
            for (;;) pause();
        }
        const bool held = WaitFor([&] {
            return LockLines(kTimezoneFilePath, false) == 1 &&
                   LockLines(kPeerLock, true) == (row.mode == 'd' ? 1u : 0u);
        });
        if (held) {
            EXPECT_TRUE(castZone("Asia/Tokyo", row.mode == 'd'));
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
        kill(child, SIGKILL);
        ASSERT_EQ(waitpid(child, nullptr, 0), child);
        close(peer);
        ASSERT_TRUE(held);
        ASSERT_TRUE(settle());
        EXPECT_EQ(state(), row.state);
    }
}

// A step that fails is reported with its reason. A link the file system refuses leaves no
// temporary link, and the file and the setting still follow; without the file, the link
// alone changes and the next status tries again. A zone already applied is not applied again.
TEST_F(CastTimezoneTest, AStepThatFailsIsReportedAndTheNextStatusTriesAgain) {
    const std::string temporary = "localtime.new." + std::to_string(getpid());
    const auto all = [](const std::string& zone) { return zone + " | " + zone + " | " + zone; };
    const std::string link = "Failed to link /data/time/localtime to /usr/share/zoneinfo/";
    // 'F' no file, 'L' a folder (not empty) where the link goes, 'T' one where its temporary
    // goes; the zone, what follows, the error line.
    // clang-format off
    const struct { char setup; const char* zone; std::string state, error; } rows[] = {
        {'F', "Asia/Tokyo", "/usr/share/zoneinfo/Asia/Tokyo | <no file> |  | ",
         "Failed to access file:/data/time/timezone"},
        {' ', "Asia/Tokyo", "/usr/share/zoneinfo/Asia/Tokyo | " + all("Asia/Tokyo"), ""},
        {'L', "Europe/Paris", " | " + all("Europe/Paris"), link + "Europe/Paris: rename: "},
        {'T', "Europe/Berlin", "/usr/share/zoneinfo/America | " + all("Europe/Berlin") +
         " | stray " + temporary, link + "Europe/Berlin: symlink: "},
        {' ', "Europe/Berlin", "/usr/share/zoneinfo/America | America/Argentina/Buenos_Aires | "
         "Europe/Berlin | Europe/Berlin", ""},
    };
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(1, row.setup) + row.zone);
        reset();
        log.clear();
        if (row.setup == 'F') fs::remove(kTimezoneFilePath);
        if (row.setup == 'L') fs::remove(kLocalTimeLinkPath);
        if (row.setup == 'L') fs::create_directories(kLocalTimeLinkPath + "/inside");
        if (row.setup == 'T') fs::create_directories("/data/time/" + temporary + "/inside");
        ASSERT_TRUE(castZone(row.zone));
        EXPECT_EQ(state(), row.state);
        // Every error line in a clean row, the one that gives the reason in the others.
        EXPECT_EQ(log.count(row.error, LOG_ERR), row.error.empty() ? 0u : 1u);
    }
}

}  // namespace orvix::test
