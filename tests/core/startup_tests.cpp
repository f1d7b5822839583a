// Start-up: the shared log, the output folder and the application folder.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "core/startup.h"
#include "qt_printers.h"
#include "support/files.h"

namespace {

QByteArray contents(const QString& path) {
    return QFileInfo::exists(path) ? readFile(path) : QByteArray("<none>");
}

}  // namespace

TEST(Log, AnEarlierLogIsEmptiedAndAMissingOneCreatedPrivate) {
    QTemporaryDir tmp;
    const QString path = tmp.filePath("log.txt");
    QFile log(path);
    ASSERT_TRUE(startup::openLog(log));
    EXPECT_EQ(QFileInfo(path).permissions() & (QFile::ReadOther | QFile::WriteOther), 0);
    log.close();
    writeFile(path, "an old record that is much longer than the new one\n");
    QFile again(path);
    ASSERT_TRUE(startup::openLog(again));
    again.write(" release ev = 0, 0\n");
    again.close();
    EXPECT_EQ(contents(path), QByteArray(" release ev = 0, 0\n"));
}

TEST(Log, PathsThatAreNotTheUsersOwnPlainFileAreRefusedUntouched) {
    // What is at the log path: a symbolic link to a file, a dangling one, a hard link, a
    // folder, another user's file (as root only). `file` must keep its contents afterwards.
    enum Kind { Symlink, Dangling, HardLink, Folder, Foreign };
    const struct {
        Kind kind;
        const char* file;
        const char* contents;
    } cases[] = {{Symlink, "precious.txt", "keep me"},
                 {Dangling, "would-be.txt", "<none>"},
                 {HardLink, "precious.txt", "keep me"},
                 {Folder, "log.txt/x", "<none>"},
                 {Foreign, "log.txt", "someone else's log"}};
    for (const auto& c : cases) {
        if (c.kind == Foreign && ::geteuid() != 0)
            continue;
        QTemporaryDir tmp;
        const QString log = tmp.filePath("log.txt"), file = tmp.filePath(c.file);
        const QByteArray target = QFile::encodeName(file), path = QFile::encodeName(log);
        if (c.kind != Dangling && c.kind != Folder)
            writeFile(file, c.contents);
        const bool made =
            ((c.kind != Symlink && c.kind != Dangling) || QFile::link(file, log)) &&
            (c.kind != HardLink || ::link(target.constData(), path.constData()) == 0) &&
            (c.kind != Folder || QDir(tmp.path()).mkdir("log.txt")) &&
            (c.kind != Foreign || ::chown(path.constData(), 65534, 65534) == 0);
        ASSERT_TRUE(made) << c.kind;
        QFile f(log);
        EXPECT_FALSE(startup::openLog(f)) << c.kind;
        EXPECT_FALSE(f.isOpen()) << c.kind;
        EXPECT_EQ(contents(file), QByteArray(c.contents)) << c.kind;
    }
}

TEST(OutputFolder, IsDocumentsVerdaluxMadeIfNeededElseDocuments) {
    QTemporaryDir home;
    const QDir h(home.path());
    EXPECT_EQ(startup::outputFolder(home.path()), h.absoluteFilePath("Documents/Verdalux"));
    writeFile(h.filePath("Documents/Verdalux/shot.png"), "composite");
    EXPECT_EQ(startup::outputFolder(home.path()), h.absoluteFilePath("Documents/Verdalux"));
    EXPECT_EQ(contents(h.filePath("Documents/Verdalux/shot.png")), QByteArray("composite"));

    QTemporaryDir other;
    const QDir o(other.path());
    writeFile(o.filePath("Documents/Verdalux"), "not a folder");
    EXPECT_EQ(startup::outputFolder(other.path()), o.absoluteFilePath("Documents"));
    EXPECT_EQ(startup::applicationFolder(other.path()), o.absolutePath());
}

TEST(ApplicationFolder, IsTheFirstOfBinAndShareMattoraThatHoldsBkgElseBin) {
    const struct {
        QStringList folders;
        const char* expected;
    } cases[] = {{{"bin"}, "bin"},
                 {{"bin/Bkg"}, "bin"},
                 {{"bin", "share/mattora/Bkg"}, "share/mattora"},
                 {{"bin/Bkg", "share/mattora/Bkg"}, "bin"},
                 {{"bin", "share/mattora"}, "bin"}};
    for (const auto& c : cases) {
        QTemporaryDir prefix;
        for (const QString& folder : c.folders)
            ASSERT_TRUE(QDir(prefix.path()).mkpath(folder));
        EXPECT_EQ(startup::applicationFolder(prefix.filePath("bin")),
                  QDir(prefix.filePath(c.expected)).canonicalPath())
            << c.folders.join(", ").toStdString();
    }
}
