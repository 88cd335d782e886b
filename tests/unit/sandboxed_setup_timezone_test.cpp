// A timezone chosen on the cast side applied to the device: the zone link, the timezone file
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
#include <string>

#include "tests/unit/DaemonTestSupport.h"

namespace orvix::test {

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return in ? text.str() : "<no file>";
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// The lines of /proc/locks on the file's inode: "->" marks a request that waits.
size_t LockLines(const std::string& path, bool waiting) {
    struct stat st = {};
    if (stat(path.c_str(), &st) != 0) return 0;
    std::string inode = ":" + std::to_string(st.st_ino) + " ";
    std::ifstream locks("/proc/locks");
    size_t n = 0;
    for (std::string line; std::getline(locks, line);) {
        n += line.find(inode) != std::string::npos &&
             (line.find("->") != std::string::npos) == waiting;
    }
    return n;
}

class CastTimezoneTest : public DaemonTest {
protected:
    void SetUp() override {
        if (getenv("ORVIX_IN_SANDBOX") == nullptr) {
            GTEST_SKIP() << "writes /data/time: run through scripts/in-sandbox.sh";
        }
        DaemonTest::SetUp();
        for (const auto& entry : fs::directory_iterator("/data/time")) fs::remove(entry.path());
        fs::create_symlink("/usr/share/zoneinfo/UTC", kLocalTimeLinkPath);
        WriteFile(kTimezoneFilePath, "UTC");
        startLooperAndBus();
    }

    // A cast status from the receiver that carries only a timezone.
    void castZone(const std::string& zone, bool wait = true) {
        sp<AMessage> msg = new AMessage(kWhatCastStatus, mController->handlerId());
        msg->setString(kKeyTimezone, zone.c_str(), static_cast<ssize_t>(zone.size()));
        msg->post();
        if (wait) settle();
    }

    // Where the link points | the file | the setting | the remembered zone, and strays.
    std::string state() {
        std::error_code error;
        std::string out = fs::read_symlink(kLocalTimeLinkPath, error).string() + " | " +
                          ReadFile(kTimezoneFilePath) + " | " +
                          world().settings().value(kTimeZone) + " | " +
                          CastControllerPeer::timezone(*mController);
        for (const auto& entry : fs::directory_iterator("/data/time")) {
            std::string name = entry.path().filename();
            if (name != "localtime" && name != "timezone") out += " | stray " + name;
        }
        return out;
    }
};

}  // namespace

TEST_F(CastTimezoneTest, AZoneFromTheReceiverMovesTheLinkTheFileAndTheSetting) {
    // A longer zone before, so that a missing truncation would show; a link to a directory,
    // so that a link made "into" it would leave the old one in place.
    WriteFile(kTimezoneFilePath, "America/Argentina/Buenos_Aires");
    fs::remove(kLocalTimeLinkPath);
    fs::create_symlink("/usr/share/zoneinfo/America", kLocalTimeLinkPath);
    castZone("America/New_York");
    EXPECT_EQ(state(),
              "/usr/share/zoneinfo/America/New_York | America/New_York | "
              "America/New_York | America/New_York");
    EXPECT_EQ(settingWrites(kTimeZone), std::vector<std::string>{"America/New_York"});
    EXPECT_TRUE(
        mLog.has("castcontroller: HandleCastTimezoneData() Successfully pointed to "
                 "timezone configured in GHome! Command: ln -sf "
                 "/usr/share/zoneinfo/America/New_York /data/time/localtime",
                 LOG_NOTICE));
    // Names of the database with digits, signs, dashes and three levels are zone names.
    for (std::string name : {"Etc/GMT+5", "America/Port-au-Prince", "America/Argentina/Salta"}) {
        castZone(name);
        EXPECT_EQ(state(),
                  "/usr/share/zoneinfo/" + name + " | " + name + " | " + name + " | " + name);
    }
    EXPECT_FALSE(mLog.has("Failed", LOG_ERR));
}

TEST_F(CastTimezoneTest, WithoutTheTimezoneFileOnlyTheLinkChangesAndTheNextStatusTriesAgain) {
    world().settings().set(kTimeZone, "UTC", model::Origin::App);
    fs::remove(kTimezoneFilePath);
    castZone("America/New_York");
    EXPECT_EQ(state(), "/usr/share/zoneinfo/America/New_York | <no file> | UTC | ");
    EXPECT_TRUE(mLog.has(
        "castcontroller: HandleCastTimezoneData() Failed to access file:/data/time/timezone",
        LOG_ERR));
    WriteFile(kTimezoneFilePath, "");
    castZone("America/New_York");
    EXPECT_EQ(state(),
              "/usr/share/zoneinfo/America/New_York | America/New_York | "
              "America/New_York | America/New_York");
}

TEST_F(CastTimezoneTest, HostileNamesChangeNothingAndRunNothing) {
    const std::string names[] = {
        // clang-format off
        "Europe/Berlin;touch /tmp/ran", "$(touch /tmp/ran)", "`touch /tmp/ran`",
        "Europe/Berlin /tmp/ran", "Europe/Berlin|touch /tmp/ran", "Europe/Berlin\ntouch /tmp/ran",
        "../../../tmp/ran", "Europe/../../../../tmp/ran", "/etc/passwd", "Europe//Berlin",
        ".hidden", "-n", std::string(300, 'A'),
        // clang-format on
    };
    for (const std::string& name : names) {
        SCOPED_TRACE("zone '" + name + "'");
        mLog.clear();
        castZone(name);
        EXPECT_EQ(state(), "/usr/share/zoneinfo/UTC | UTC |  | ");
        EXPECT_TRUE(
            mLog.has("castcontroller: HandleCastTimezoneData() Failed to point to new "
                     "timezone, command: ln -sf /usr/share/zoneinfo/" +
                         name + " /data/time/localtime",
                     LOG_ERR));
        EXPECT_FALSE(mLog.has("Successfully pointed"));
    }
    EXPECT_FALSE(fs::exists("/tmp/ran"));
}

TEST_F(CastTimezoneTest, TheFileIsWrittenOnlyOnceAnotherProcessLetsGoOfItsLock) {
    WriteFile(kTimezoneFilePath, "Europe/Berlin");
    int release[2];
    ASSERT_EQ(pipe2(release, O_CLOEXEC), 0);
    const char* path = kTimezoneFilePath.c_str();
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Only async-signal-safe calls in the child of a threaded process: it holds a write
        // lock until the parent closes its end of the pipe.
        close(release[1]);
        struct flock lock = {};
        lock.l_type = F_WRLCK;
        int fd = open(path, O_RDWR);
        char byte;
        _exit(fd >= 0 && fcntl(fd, F_SETLK, &lock) == 0 && read(release[0], &byte, 1) == 0 ? 0 : 1);
    }
    close(release[0]);
    bool held = WaitFor([&] { return LockLines(kTimezoneFilePath, false) == 1; });
    if (held) {
        castZone("Asia/Tokyo", false);
        // The daemon has pointed the link and now waits for the lock, the file untouched (the
        // remembered zone is the looper's to touch until it is done).
        EXPECT_TRUE(WaitFor([&] { return LockLines(kTimezoneFilePath, true) == 1; }));
        EXPECT_EQ(fs::read_symlink(kLocalTimeLinkPath), "/usr/share/zoneinfo/Asia/Tokyo");
        EXPECT_EQ(ReadFile(kTimezoneFilePath), "Europe/Berlin");
        EXPECT_EQ(world().settings().value(kTimeZone), "");
    }
    // Whatever was seen, the child must let go, or the looper would never end.
    close(release[1]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(held);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    settle();
    EXPECT_EQ(state(), "/usr/share/zoneinfo/Asia/Tokyo | Asia/Tokyo | Asia/Tokyo | Asia/Tokyo");
}

}  // namespace orvix::test
