// A timezone chosen on the cast side applied to the device: the zone link, the timezone file
// under its lock, the setting and the remembered zone. These use the real /data/time and run
// only inside the private sandbox (scripts/in-sandbox.sh).
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "core/Messages.h"
#include "tests/unit/DaemonTestSupport.h"

using android::AMessage;
using android::sp;
using orvix::fakes::WaitFor;
using orvix::model::Origin;

namespace {

const std::string kZoneDir = "/usr/share/zoneinfo/";

std::string ReadLink(const std::string& path) {
    char buffer[4096];
    ssize_t n = readlink(path.c_str(), buffer, sizeof(buffer));
    return n < 0 ? std::string("<no link>") : std::string(buffer, static_cast<size_t>(n));
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "<no file>";
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

std::set<std::string> Entries(const std::string& dir) {
    std::set<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name != "." && name != "..") names.insert(name);
        }
        closedir(d);
    }
    return names;
}

// True when some lock request waits on the file (a "->" line of /proc/locks for its inode).
bool LockRequestBlocked(const std::string& path) {
    struct stat st = {};
    if (stat(path.c_str(), &st) != 0) return false;
    std::string inode = ":" + std::to_string(st.st_ino) + " ";
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        if (line.find("->") != std::string::npos && line.find(inode) != std::string::npos) {
            return true;
        }
    }
    return false;
}

class CastTimezoneTest : public orvix::test::DaemonTest {
protected:
    void SetUp() override {
        if (getenv("ORVIX_IN_SANDBOX") == nullptr) {
            GTEST_SKIP() << "writes /data/time: run through scripts/in-sandbox.sh";
        }
        DaemonTest::SetUp();
        for (const std::string& name : Entries("/data/time")) {
            unlink(("/data/time/" + name).c_str());
        }
        ASSERT_EQ(symlink((kZoneDir + "UTC").c_str(), kLocalTimeLinkPath.c_str()), 0);
        WriteFile(kTimezoneFilePath, "UTC");
        startLooperAndBus();
    }

    // A cast status from the receiver that carries only a timezone.
    void castZone(const std::string& zone, bool wait = true) {
        sp<AMessage> msg = new AMessage(kWhatCastStatus);
        msg->setString(kKeyTimezone, zone.c_str(), static_cast<ssize_t>(zone.size()));
        if (wait) {
            postAndSettle(msg);
        } else {
            msg->setTarget(mController->handlerId());
            msg->post();
        }
    }

    std::string zone() { return CastControllerPeer::timezone(*mController); }
};

}  // namespace

TEST_F(CastTimezoneTest, AZoneFromTheReceiverMovesTheLinkTheFileAndTheSetting) {
    // A longer zone before, so that a missing truncation would show.
    WriteFile(kTimezoneFilePath, "America/Argentina/Buenos_Aires");
    // Pointing at a directory: a link made "into" it would leave the old one in place.
    unlink(kLocalTimeLinkPath.c_str());
    ASSERT_EQ(symlink((kZoneDir + "America").c_str(), kLocalTimeLinkPath.c_str()), 0);

    castZone("America/New_York");
    EXPECT_EQ(ReadLink(kLocalTimeLinkPath), "/usr/share/zoneinfo/America/New_York");
    EXPECT_EQ(ReadFile(kTimezoneFilePath), "America/New_York");
    EXPECT_EQ(ReadFile(kTimezoneFilePath).size(), 16u);
    EXPECT_EQ(world().settings().value(kTimeZone), "America/New_York");
    EXPECT_EQ(zone(), "America/New_York");
    EXPECT_TRUE(
        mLog.has("castcontroller: HandleCastTimezoneData() Successfully pointed to "
                 "timezone configured in GHome! Command: ln -sf "
                 "/usr/share/zoneinfo/America/New_York /data/time/localtime",
                 LOG_NOTICE));
    // No helper file is left behind, and the link stays a link.
    EXPECT_EQ(Entries("/data/time"), (std::set<std::string>{"localtime", "timezone"}));
    struct stat st = {};
    ASSERT_EQ(lstat(kLocalTimeLinkPath.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));

    // Names of the database with digits, signs, dashes and three levels are zone names.
    for (const char* name : {"Etc/GMT+5", "America/Port-au-Prince", "America/Argentina/Salta"}) {
        castZone(name);
        EXPECT_EQ(ReadLink(kLocalTimeLinkPath), kZoneDir + name);
        EXPECT_EQ(ReadFile(kTimezoneFilePath), name);
        EXPECT_EQ(world().settings().value(kTimeZone), name);
    }
    std::vector<orvix::model::SettingChange> changes = world().settings().changes();
    ASSERT_EQ(changes.size(), 4u);
    EXPECT_EQ(changes[0].from, Origin::Daemon);
    EXPECT_FALSE(mLog.has("Failed", LOG_ERR));
}

TEST_F(CastTimezoneTest, WithoutTheTimezoneFileOnlyTheLinkChangesAndTheNextStatusTriesAgain) {
    world().settings().set(kTimeZone, "UTC", Origin::App);
    unlink(kTimezoneFilePath.c_str());
    castZone("America/New_York");

    EXPECT_EQ(ReadLink(kLocalTimeLinkPath), "/usr/share/zoneinfo/America/New_York");
    EXPECT_TRUE(
        mLog.has("castcontroller: HandleCastTimezoneData() Failed to access "
                 "file:/data/time/timezone",
                 LOG_ERR));
    EXPECT_EQ(ReadFile(kTimezoneFilePath), "<no file>");
    EXPECT_EQ(world().settings().value(kTimeZone), "UTC");
    EXPECT_EQ(world().settings().changes().size(), 1u);
    EXPECT_EQ(zone(), "");

    WriteFile(kTimezoneFilePath, "");
    castZone("America/New_York");
    EXPECT_EQ(ReadFile(kTimezoneFilePath), "America/New_York");
    EXPECT_EQ(zone(), "America/New_York");
}

TEST_F(CastTimezoneTest, HostileNamesChangeNothingAndRunNothing) {
    const std::string longName(300, 'A');
    const std::string names[] = {
        "Europe/Berlin;touch /tmp/ran",
        "$(touch /tmp/ran)",
        "`touch /tmp/ran`",
        "Europe/Berlin /tmp/ran",
        "Europe/Berlin|touch /tmp/ran",
        "Europe/Berlin&&touch${IFS}/tmp/ran",
        "Europe/Berlin\ntouch /tmp/ran",
        "../../../tmp/ran",
        "Europe/../../../../tmp/ran",
        "..",
        "/etc/passwd",
        "Europe//Berlin",
        "Europe/Berlin/",
        ".hidden",
        "-n",
        "Europe/Ber*",
        "Europe/'Berlin'",
        longName,
    };
    for (const std::string& name : names) {
        SCOPED_TRACE("zone '" + name + "'");
        mLog.clear();
        castZone(name);
        EXPECT_EQ(ReadLink(kLocalTimeLinkPath), "/usr/share/zoneinfo/UTC");
        EXPECT_EQ(ReadFile(kTimezoneFilePath), "UTC");
        EXPECT_EQ(Entries("/data/time"), (std::set<std::string>{"localtime", "timezone"}));
        EXPECT_TRUE(
            mLog.has("castcontroller: HandleCastTimezoneData() Failed to point to new "
                     "timezone, command: ln -sf /usr/share/zoneinfo/" +
                         name + " /data/time/localtime",
                     LOG_ERR));
        EXPECT_FALSE(mLog.has("Successfully pointed"));
    }
    EXPECT_EQ(access("/tmp/ran", F_OK), -1);
    EXPECT_TRUE(world().settings().changes().empty());
    EXPECT_EQ(zone(), "");
}

TEST_F(CastTimezoneTest, TheFileIsWrittenOnlyOnceAnotherProcessLetsGoOfItsLock) {
    WriteFile(kTimezoneFilePath, "Europe/Berlin");
    int ready[2];
    int release[2];
    ASSERT_EQ(pipe2(ready, O_CLOEXEC), 0);
    ASSERT_EQ(pipe2(release, O_CLOEXEC), 0);
    const char* path = kTimezoneFilePath.c_str();
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Only async-signal-safe calls in the child of a threaded process.
        int fd = open(path, O_RDWR);
        struct flock lock = {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        char state = fd >= 0 && fcntl(fd, F_SETLK, &lock) == 0 ? 'L' : 'E';
        if (write(ready[1], &state, 1) != 1) _exit(1);
        if (read(release[0], &state, 1) < 0) _exit(1);
        _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    pollfd pfd = {ready[0], POLLIN, 0};
    ASSERT_EQ(poll(&pfd, 1, 5000), 1);
    char state = 0;
    ASSERT_EQ(read(ready[0], &state, 1), 1);
    ASSERT_EQ(state, 'L');

    castZone("Asia/Tokyo", false);
    // The daemon has pointed the link and now waits for the lock, the file untouched.
    EXPECT_TRUE(WaitFor([&] { return LockRequestBlocked(kTimezoneFilePath); }));
    EXPECT_EQ(ReadLink(kLocalTimeLinkPath), "/usr/share/zoneinfo/Asia/Tokyo");
    EXPECT_EQ(ReadFile(kTimezoneFilePath), "Europe/Berlin");
    EXPECT_TRUE(world().settings().changes().empty());

    // Whatever was seen, the child must let go, or the looper would never end.
    if (write(release[1], "x", 1) != 1) kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    close(ready[0]);
    close(release[1]);
    settle();
    EXPECT_EQ(ReadFile(kTimezoneFilePath), "Asia/Tokyo");
    EXPECT_EQ(world().settings().value(kTimeZone), "Asia/Tokyo");
    EXPECT_EQ(zone(), "Asia/Tokyo");
}
