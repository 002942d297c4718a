// The built executable, started as real processes in a temporary application folder.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>
#include <algorithm>
#include <filesystem>
#include <vector>

#include "app/platform.h"
#include "app_fixture.h"

#ifdef Q_OS_UNIX
#include <pwd.h>
#include <unistd.h>
#endif

using namespace aqled;
using namespace aqled::testing;

namespace {

struct Executable : AppFolderFixture {
  QString program;

  void SetUp() override {
    // AppFolder is the executable's folder: the program runs from a copy inside the temporary one.
    program = dir.filePath("aqled");
    ASSERT_TRUE(QFile::copy(BuiltProgram("aqled"), program));
    QFile::setPermissions(program, QFile::permissions(program) | QFileDevice::ExeOwner);
    WithConfig();
    WithLogFolder();
    QDir().mkpath(dir.filePath("run"));
    QFile::setPermissions(dir.filePath("run"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  }

  // Each process gets the temporary folder as its runtime folder, so only copies started by
  // this test meet each other's lock.
  void Launch(QProcess& p) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_RUNTIME_DIR", dir.filePath("run"));
    env.remove("AQLED_SCREENSHOTS");
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(dir.path());
    p.start(program, {});
  }

  // Every daily log file of the copies in date order, so that a run across midnight reads both
  // days.
  std::string TodaysLog() {
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder / "log", ec))
      files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    std::string all;
    for (const auto& file : files) all += ReadAll(file);
    return all;
  }

  // How many start lines the copies have written.
  size_t StartLines() {
    const std::string log = TodaysLog();
    size_t count = 0;
    for (size_t at = log.find(G("程序开始运行")); at != std::string::npos;
         at = log.find(G("程序开始运行"), at + 1))
      ++count;
    return count;
  }

  // Waits until the copies have written `lines` start lines; false when the copy `p` ends first.
  bool WaitForStart(const QProcess& p, size_t lines) {
    WaitFor([&] { return StartLines() >= lines || p.state() == QProcess::NotRunning; }, 10000);
    return StartLines() >= lines;
  }
};

TEST_F(Executable, ASecondCopyEndsAtOnceWithStatusZero) {
  QProcess first;
  Launch(first);
  ASSERT_TRUE(first.waitForStarted(10000));
  ASSERT_TRUE(WaitForStart(first, 1)) << first.readAllStandardError().toStdString();

  QProcess second;
  Launch(second);
  ASSERT_TRUE(second.waitForFinished(15000));
  EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.exitCode(), 0);
  EXPECT_EQ(second.readAllStandardOutput(), QByteArray());
  EXPECT_EQ(first.state(), QProcess::Running) << "the first copy is unaffected";
  // The first copy may still be writing its start-up lines; a second copy that ran would have
  // written a start line of its own.
  EXPECT_EQ(StartLines(), 1u) << "the second copy logs nothing";

  // A copy that died leaves its lock behind; the next start takes it over.
  first.kill();
  ASSERT_TRUE(first.waitForFinished(10000));
  QProcess third;
  Launch(third);
  ASSERT_TRUE(third.waitForStarted(10000));
  EXPECT_TRUE(WaitForStart(third, 2));
  third.kill();
  third.waitForFinished(10000);
}

#ifdef Q_OS_UNIX
// Sets an environment variable for the life of the object, then puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const QByteArray& value)
      : name_(name), had_(qEnvironmentVariableIsSet(name)), old_(qgetenv(name)) {
    qputenv(name, value);
  }
  ~ScopedEnv() {
    if (had_)
      qputenv(name_, old_);
    else
      qunsetenv(name_);
  }

 private:
  const char* name_;
  bool had_;
  QByteArray old_;
};

// No usable runtime folder (neither XDG_RUNTIME_DIR nor the temporary one Qt falls back to):
// the lock lies in the temporary folder every user shares, so its name carries the user's id
// and another user's copy neither blocks this one nor is blocked by it.
TEST(SingleCopyLockTest, WithoutARuntimeFolderTheSharedTemporaryLockIsTheUsersOwn) {
  QTemporaryDir dir;
  WriteAll(dir.filePath("not-a-folder").toStdString(), "");
  const passwd* user = getpwuid(getuid());
  ASSERT_NE(user, nullptr);
  WriteAll(dir.filePath(QString("runtime-") + user->pw_name).toStdString(), "");
  ScopedEnv runtime("XDG_RUNTIME_DIR", dir.filePath("not-a-folder/run").toUtf8());
  ScopedEnv temporary("TMPDIR", dir.path().toUtf8());

  // Another user's copy holding the lock under the shared name of the title alone.
  QLockFile other(dir.filePath(ApplicationTitle() + ".lock"));
  ASSERT_TRUE(other.tryLock(0));

  SingleCopyLock lock;
  EXPECT_EQ(lock.Path(), dir.filePath(ApplicationTitle() + QString("-%1.lock").arg(getuid())));
  EXPECT_TRUE(lock.TryAcquire());
  SingleCopyLock second;
  EXPECT_FALSE(second.TryAcquire()) << "the same user's second copy is still refused";
}
#endif

}  // namespace
