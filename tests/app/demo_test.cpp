// --simulate with no settings file: a plant of its own that captures from the first seconds and
// writes nowhere but its demo folder.

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

QByteArray FileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every file under the folder, relative to it.
QStringList FilesUnder(const QString& folder) {
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(folder).relativeFilePath(it.next());
    files.sort();
    return files;
}

} // namespace

TEST(DemoTest, AFirstSimulatedRunCapturesEveryLineIntoTheDemoFolderAlone) {
    QTemporaryDir root;
    const QDir top(root.path());
    // A copy of the program in a writable folder of its own, where a settings file would show.
    for (const char* folder : {"bin", "home", "state", "work"})
        ASSERT_TRUE(top.mkpath(QString::fromLatin1(folder)));
    const QString program = top.filePath(QStringLiteral("bin/tolvane"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(TOLVANE_PROGRAM), program));

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), top.filePath(QStringLiteral("home")));
    environment.insert(QStringLiteral("XDG_STATE_HOME"), top.filePath(QStringLiteral("state")));
    environment.remove(QStringLiteral("XDG_CONFIG_HOME"));
    environment.remove(QStringLiteral("XDG_CACHE_HOME"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess run;
    run.setProcessEnvironment(environment);
    run.setWorkingDirectory(top.filePath(QStringLiteral("work")));
    run.start(program, {QStringLiteral("--simulate")});
    ASSERT_TRUE(run.waitForStarted());

    const QString demo = top.filePath(QStringLiteral("state/tolvane/demo"));
    const auto reportFile = [&](int line) {
        return demo + QStringLiteral("/line%1.txt").arg(line);
    };
    const auto everyLineReported = [&] {
        for (int line = 1; line <= 8; ++line) {
            if (!FileBytes(reportFile(line)).contains("\r\n"))
                return false;
        }
        return true;
    };
    EXPECT_TRUE(QTest::qWaitFor(everyLineReported, 10000));
    run.kill();
    run.waitForFinished();

    for (int line = 1; line <= 8; ++line) {
        SCOPED_TRACE(line);
        const QByteArray text = FileBytes(reportFile(line));
        EXPECT_TRUE(text.contains(QStringLiteral("-%1 SEQ ").arg(line).toLatin1())) << text.data();
    }
    const QString told = QString::fromLocal8Bit(run.readAllStandardError());
    EXPECT_TRUE(told.contains(demo + QChar('/'))) << told.toStdString();
    QStringList expected{QStringLiteral("bin/tolvane"),
                         QStringLiteral("state/tolvane/demo/Tolvane.ini")};
    for (int line = 1; line <= 8; ++line)
        expected << QStringLiteral("state/tolvane/demo/line%1.txt").arg(line);
    expected.sort();
    EXPECT_EQ(FilesUnder(root.path()), expected);
}
