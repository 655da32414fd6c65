// The single-instance guard between real processes. Each test has its own
// temporary folder as TMPDIR, where the guard's socket lives, so tests never
// meet each other or a viewer the user runs. The stand-in program
// (single_instance_helper) reports "first" once it listens and "shown" each
// time its window is raised.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

const int kWaitMs = 10000;

// One started copy: its output lines, collected as they arrive; killed at
// the end of the test if still running.
class Copy
{
public:
    Copy(const QString &program, const QProcessEnvironment &environment, const QString &workingDirectory)
    {
        mProcess.setProcessEnvironment(environment);
        mProcess.setWorkingDirectory(workingDirectory);
        mProcess.start(program, QStringList());
    }

    ~Copy()
    {
        if (mProcess.state() != QProcess::NotRunning) {
            mProcess.kill();
            mProcess.waitForFinished(kWaitMs);
        }
    }

    int count(const QString &line)
    {
        mOut += mProcess.readAllStandardOutput();
        return QString::fromLocal8Bit(mOut).split('\n').count(line);
    }

    QStringList errorLines()
    {
        mErr += mProcess.readAllStandardError();
        return QString::fromLocal8Bit(mErr).split('\n');
    }

    QProcess &process() { return mProcess; }

private:
    QProcess mProcess;
    QByteArray mOut;
    QByteArray mErr;
};

} // namespace

class SingleApplicationTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void laterCopyRaisesTheFirst_data();
    void laterCopyRaisesTheFirst();
    void copiesUnderOtherNamesBothRun();
    void staleNameOfKilledCopyIsRecovered();
    void plainFileUnderTheNameIsKept();
    void silentPeersDoNotHoldUpTheRaise();
    void viewerSecondCopyEndsBeforeItsWindow();

private:
    // The stand-in copied to a path under the test's folder: the file name
    // is what the guard keys on.
    QString helperAt(const QString &relativePath);
    std::unique_ptr<Copy> start(const QString &program, const QString &workingDirectory = QString());
    // A later copy that must find the first running: ends at once with code
    // 0 and the one line, without becoming a first copy itself.
    void expectAlreadyRunning(Copy &copy, const QString &fileName);

    std::unique_ptr<QTemporaryDir> mFolder;
    QProcessEnvironment mEnvironment;
};

void SingleApplicationTest::init()
{
    mFolder = std::make_unique<QTemporaryDir>();
    QVERIFY(mFolder->isValid());
    const QString runtime = mFolder->filePath("runtime");
    QVERIFY(QDir().mkpath(runtime));
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    mEnvironment = QProcessEnvironment::systemEnvironment();
    mEnvironment.insert("TMPDIR", mFolder->path());
    mEnvironment.insert("XDG_RUNTIME_DIR", runtime);
    mEnvironment.insert("QT_QPA_PLATFORM", "offscreen");
}

void SingleApplicationTest::cleanup()
{
    mFolder.reset();
}

QString SingleApplicationTest::helperAt(const QString &relativePath)
{
    const QString path = mFolder->filePath(relativePath);
    if (!QFileInfo::exists(path)) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        if (!QFile::copy(QStringLiteral(SINGLE_INSTANCE_HELPER), path))
            return QString();
        QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner);
    }
    return path;
}

std::unique_ptr<Copy> SingleApplicationTest::start(const QString &program, const QString &workingDirectory)
{
    return std::make_unique<Copy>(program, mEnvironment,
                                  workingDirectory.isEmpty() ? mFolder->path() : workingDirectory);
}

void SingleApplicationTest::expectAlreadyRunning(Copy &copy, const QString &fileName)
{
    QVERIFY2(copy.process().waitForFinished(kWaitMs), "the later copy keeps running");
    QCOMPARE(copy.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(copy.process().exitCode(), 0);
    QVERIFY2(copy.errorLines().contains(fileName + " already running."), qPrintable(copy.errorLines().join('\n')));
    QCOMPARE(copy.count("first"), 0);
}

void SingleApplicationTest::laterCopyRaisesTheFirst_data()
{
    QTest::addColumn<QString>("firstPath");
    QTest::addColumn<QString>("secondPath");
    QTest::newRow("same program file") << "a/viewer" << "a/viewer";
    QTest::newRow("same file name in another folder") << "a/viewer" << "b/viewer";
}

void SingleApplicationTest::laterCopyRaisesTheFirst()
{
    QFETCH(QString, firstPath);
    QFETCH(QString, secondPath);

    auto first = start(helperAt(firstPath));
    QTRY_COMPARE_WITH_TIMEOUT(first->count("first"), 1, kWaitMs);
    QCOMPARE(first->count("shown"), 0);

    auto second = start(helperAt(secondPath));
    expectAlreadyRunning(*second, "viewer");
    QTRY_COMPARE_WITH_TIMEOUT(first->count("shown"), 1, kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(first->count("activated"), 1, kWaitMs);
    QCOMPARE(first->process().state(), QProcess::Running);
}

void SingleApplicationTest::copiesUnderOtherNamesBothRun()
{
    auto one = start(helperAt("a/viewer-one"));
    QTRY_COMPARE_WITH_TIMEOUT(one->count("first"), 1, kWaitMs);
    auto two = start(helperAt("a/viewer-two"));
    QTRY_COMPARE_WITH_TIMEOUT(two->count("first"), 1, kWaitMs);

    QCOMPARE(one->process().state(), QProcess::Running);
    QCOMPARE(two->process().state(), QProcess::Running);
    QCOMPARE(one->count("shown"), 0);
    // Each listens under its own name: a third copy of either knocks only
    // on its own.
    auto again = start(helperAt("a/viewer-two"));
    expectAlreadyRunning(*again, "viewer-two");
    QTRY_COMPARE_WITH_TIMEOUT(two->count("shown"), 1, kWaitMs);
    QCOMPARE(one->count("shown"), 0);
}

void SingleApplicationTest::staleNameOfKilledCopyIsRecovered()
{
    const QString program = helperAt("bin/viewer");
    auto killed = start(program);
    QTRY_COMPARE_WITH_TIMEOUT(killed->count("first"), 1, kWaitMs);
    killed->process().kill();
    QVERIFY(killed->process().waitForFinished(kWaitMs));
    QVERIFY2(QFileInfo::exists(mFolder->filePath("viewer")), "the killed copy left no socket behind");

    auto next = start(program);
    QTRY_COMPARE_WITH_TIMEOUT(next->count("first"), 1, kWaitMs);
    // It really listens: a later copy finds it and raises it.
    auto later = start(program);
    expectAlreadyRunning(*later, "viewer");
    QTRY_COMPARE_WITH_TIMEOUT(next->count("shown"), 1, kWaitMs);
}

void SingleApplicationTest::plainFileUnderTheNameIsKept()
{
    QFile file(mFolder->filePath("viewer"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("somebody's notes\n");
    file.close();

    // The copy runs, without the guard, and the file is untouched.
    auto copy = start(helperAt("bin/viewer"));
    QTRY_COMPARE_WITH_TIMEOUT(copy->count("first"), 1, kWaitMs);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("somebody's notes\n"));
    QCOMPARE(copy->process().state(), QProcess::Running);
}

void SingleApplicationTest::silentPeersDoNotHoldUpTheRaise()
{
    auto first = start(helperAt("bin/viewer"));
    QTRY_COMPARE_WITH_TIMEOUT(first->count("first"), 1, kWaitMs);

    // Local processes that connect, send nothing and stay connected. A copy
    // that waited a second for data from each would take 20 s to get to the
    // later copy's knock.
    const int silentPeers = 20;
    std::vector<std::unique_ptr<QLocalSocket>> peers;
    for (int i = 0; i < silentPeers; ++i) {
        peers.push_back(std::make_unique<QLocalSocket>());
        peers.back()->connectToServer(mFolder->filePath("viewer"));
        QVERIFY(peers.back()->waitForConnected(kWaitMs));
    }
    auto later = start(helperAt("bin/viewer"));
    expectAlreadyRunning(*later, "viewer");

    QTRY_COMPARE_WITH_TIMEOUT(first->count("shown"), silentPeers + 1, kWaitMs);
    QCOMPARE(first->process().state(), QProcess::Running);
}

void SingleApplicationTest::viewerSecondCopyEndsBeforeItsWindow()
{
    const QString firstFolder = mFolder->filePath("first");
    const QString secondFolder = mFolder->filePath("second");
    QVERIFY(QDir().mkpath(firstFolder) && QDir().mkpath(secondFolder));

    auto first = start(QStringLiteral(KELVO_VIEWER), firstFolder);
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(mFolder->filePath("KelvoWiFi")), kWaitMs);

    auto second = start(QStringLiteral(KELVO_VIEWER), secondFolder);
    expectAlreadyRunning(*second, "KelvoWiFi");
    // No window was built: the window's first act is to open its settings
    // file in the working directory.
    QVERIFY(QDir(secondFolder).entryList(QDir::Files).isEmpty());
    QCOMPARE(first->process().state(), QProcess::Running);
}

QTEST_GUILESS_MAIN(SingleApplicationTest)
#include "singleapplication_test.moc"
