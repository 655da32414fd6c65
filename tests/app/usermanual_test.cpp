// Which manual file the Help menu opens: the one in the working directory
// first, then the one in the installed documentation folder, found from the
// program's folder as the install lays them out (bin/ and
// share/doc/KelvoWiFi/ under one prefix).
#include "usermanual.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class UserManualTest : public QObject
{
    Q_OBJECT

private slots:
    void manualIsFoundBesideTheWorkingDirectoryThenInstalled_data();
    void manualIsFoundBesideTheWorkingDirectoryThenInstalled();
};

void UserManualTest::manualIsFoundBesideTheWorkingDirectoryThenInstalled_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QStringList>("inWorkingDirectory");
    QTest::addColumn<QStringList>("installed");
    QTest::addColumn<QString>("expected");

    const QStringList both = {"User_Manual_CN.pdf", "User_Manual_EN.pdf"};
    QTest::newRow("Chinese in the working directory") << 0 << both << both << "work/User_Manual_CN.pdf";
    QTest::newRow("English in the working directory") << 1 << both << both << "work/User_Manual_EN.pdf";
    QTest::newRow("only installed") << 1 << QStringList() << both << "prefix/share/doc/KelvoWiFi/User_Manual_EN.pdf";
    QTest::newRow("the other language's file does not count")
        << 1 << QStringList{"User_Manual_CN.pdf"} << both << "prefix/share/doc/KelvoWiFi/User_Manual_EN.pdf";
    QTest::newRow("any language but 0 is English") << 7 << both << both << "work/User_Manual_EN.pdf";
    QTest::newRow("nowhere") << 0 << QStringList() << QStringList() << "work/User_Manual_CN.pdf";
}

void UserManualTest::manualIsFoundBesideTheWorkingDirectoryThenInstalled()
{
    QFETCH(int, language);
    QFETCH(QStringList, inWorkingDirectory);
    QFETCH(QStringList, installed);
    QFETCH(QString, expected);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QDir tree(root.path());
    QVERIFY(tree.mkpath("work") && tree.mkpath("prefix/bin") && tree.mkpath("prefix/share/doc/KelvoWiFi"));
    auto place = [&](const QString &folder, const QStringList &names) {
        for (const QString &name : names) {
            QFile file(tree.filePath(folder + "/" + name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
    };
    place("work", inWorkingDirectory);
    place("prefix/share/doc/KelvoWiFi", installed);

    QCOMPARE(userManualPath(language, tree.filePath("work"), tree.filePath("prefix/bin")), tree.filePath(expected));
}

QTEST_GUILESS_MAIN(UserManualTest)
#include "usermanual_test.moc"
