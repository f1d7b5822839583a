// Start-up: the shared log and the output folder.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextStream>

#include "core/startup.h"
#include "qt_printers.h"

namespace {

QByteArray contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

void write(const QString& path, const QByteArray& data) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(data);
}

}  // namespace

TEST(Log, EarlierRunIsEmptiedAndNewLinesStartAtTheTop) {
    QTemporaryDir tmp;
    const QString path = tmp.filePath("log.txt");
    write(path, "an old record that is much longer than the new one\n");

    QFile log(path);
    ASSERT_TRUE(startup::openLog(log));
    QTextStream(&log) << " release ev = 0, 0\n";
    log.close();
    EXPECT_EQ(contents(path), QByteArray(" release ev = 0, 0\n"));
}

TEST(Log, MissingLogIsCreated) {
    QTemporaryDir tmp;
    const QString path = tmp.filePath("log.txt");
    QFile log(path);
    ASSERT_TRUE(startup::openLog(log));
    EXPECT_TRUE(QFileInfo(path).isFile());
    EXPECT_EQ(QFileInfo(path).permissions() & (QFile::ReadOther | QFile::WriteOther), 0);
}

TEST(Log, SymbolicLinkAtTheLogPathIsNotFollowed) {
    QTemporaryDir tmp;
    const QString victim = tmp.filePath("precious.txt");
    write(victim, "keep me");
    const QString path = tmp.filePath("log.txt");
    ASSERT_TRUE(QFile::link(victim, path));

    QFile log(path);
    EXPECT_FALSE(startup::openLog(log));
    EXPECT_FALSE(log.isOpen());
    EXPECT_EQ(contents(victim), QByteArray("keep me"));
}

TEST(Log, DanglingLinkCreatesNothing) {
    QTemporaryDir tmp;
    const QString target = tmp.filePath("would-be-created.txt");
    const QString path = tmp.filePath("log.txt");
    ASSERT_TRUE(QFile::link(target, path));
    QFile log(path);
    EXPECT_FALSE(startup::openLog(log));
    EXPECT_FALSE(QFileInfo::exists(target));
}

TEST(Log, HardLinkedFileIsNotTruncated) {
    QTemporaryDir tmp;
    const QString victim = tmp.filePath("precious.txt");
    write(victim, "keep me");
    const QString path = tmp.filePath("log.txt");
    ASSERT_EQ(::link(QFile::encodeName(victim).constData(), QFile::encodeName(path).constData()),
              0);
    QFile log(path);
    EXPECT_FALSE(startup::openLog(log));
    EXPECT_EQ(contents(victim), QByteArray("keep me"));
}

TEST(Log, FolderAtTheLogPathIsRefused) {
    QTemporaryDir tmp;
    ASSERT_TRUE(QDir(tmp.path()).mkdir("log.txt"));
    QFile log(tmp.filePath("log.txt"));
    EXPECT_FALSE(startup::openLog(log));
}

TEST(Log, AnotherUsersFileIsNotTruncated) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to hand a file to another user";
    QTemporaryDir tmp;
    const QString path = tmp.filePath("log.txt");
    write(path, "someone else's log");
    ASSERT_EQ(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);
    QFile log(path);
    EXPECT_FALSE(startup::openLog(log));
    EXPECT_EQ(contents(path), QByteArray("someone else's log"));
}

TEST(OutputFolder, HomeWithoutDocumentsGetsBothFolders) {
    QTemporaryDir home;
    const QString out = startup::outputFolder(home.path());
    EXPECT_EQ(out, QDir(home.path()).absoluteFilePath("Documents/Verdalux"));
    EXPECT_TRUE(QFileInfo(out).isDir());
}

TEST(OutputFolder, ExistingFolderIsUsedUntouched) {
    QTemporaryDir home;
    ASSERT_TRUE(QDir(home.path()).mkpath("Documents/Verdalux"));
    const QString earlier = home.filePath("Documents/Verdalux/shot.png");
    write(earlier, "composite");
    const QString out = startup::outputFolder(home.path());
    EXPECT_EQ(out, QDir(home.path()).absoluteFilePath("Documents/Verdalux"));
    EXPECT_EQ(contents(earlier), QByteArray("composite"));
    EXPECT_EQ(QDir(out).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
              QStringList{"shot.png"});
}

TEST(OutputFolder, UncreatableFolderFallsBackToDocuments) {
    QTemporaryDir home;
    // A file where the folder should be: it can be neither created nor entered.
    ASSERT_TRUE(QDir(home.path()).mkpath("Documents"));
    write(home.filePath("Documents/Verdalux"), "not a folder");
    EXPECT_EQ(startup::outputFolder(home.path()), QDir(home.path()).absoluteFilePath("Documents"));
}

TEST(ApplicationFolder, IsBesideTheExecutableElseTheInstalledShareFolder) {
    const struct {
        QStringList folders;  // made under a fresh prefix
        const char* expected;
    } cases[] = {
        {{"bin"}, "bin"},
        {{"bin/Bkg"}, "bin"},
        {{"bin", "share/mattora/Bkg"}, "share/mattora"},
        {{"bin/Bkg", "share/mattora/Bkg"}, "bin"},  // a build folder keeps its own photos
        {{"bin", "share/mattora"}, "bin"},          // no data installed there either
    };
    for (const auto& c : cases) {
        QTemporaryDir prefix;
        for (const QString& f : c.folders)
            ASSERT_TRUE(QDir(prefix.path()).mkpath(f));
        SCOPED_TRACE(c.folders.join(' ').toStdString());
        EXPECT_EQ(startup::applicationFolder(prefix.filePath("bin")),
                  QDir(prefix.filePath(c.expected)).canonicalPath());
    }
}
