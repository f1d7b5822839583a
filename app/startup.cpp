#include "app/startup.h"

#include <QDir>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace startup {

bool openLog(QFile& log) {
    if (log.isOpen())
        log.close();
#ifdef Q_OS_UNIX
    const QByteArray path = QFile::encodeName(log.fileName());
    // O_NOFOLLOW: a link planted at the path is never followed; no O_TRUNC until the file
    // has been checked.
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    struct stat st {};
    const bool ours = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
                      st.st_nlink == 1;
    if (!ours || ::ftruncate(fd, 0) != 0) {
        ::close(fd);
        return false;
    }
    if (!log.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
#else
    return log.open(QIODevice::WriteOnly | QIODevice::Truncate);
#endif
}

QString applicationFolder(const QString& executableDir) {
    QDir dir(executableDir);
#ifdef Q_OS_MACOS
    // <folder>/Mattora.app/Contents/MacOS/mattora
    if (dir.dirName() == QLatin1String("MacOS")) {
        dir.cdUp();
        dir.cdUp();
        dir.cdUp();
    }
#endif
    // An installed program keeps its data in <prefix>/share/mattora; a build folder beside it.
    const QDir shared(dir.absoluteFilePath(QStringLiteral("../share/mattora")));
    if (!dir.exists(QStringLiteral("Bkg")) && shared.exists(QStringLiteral("Bkg")))
        return shared.canonicalPath();
    return dir.absolutePath();
}

namespace {

struct OwnVariable {
    QString name;
    bool userHadIt;
    QString userValue;
};

QList<OwnVariable>& ownVariables() {
    static QList<OwnVariable> list;
    return list;
}

}  // namespace

void setOwnVariable(const char* name, const QByteArray& value) {
    const QString key = QString::fromLatin1(name);
    bool known = false;
    for (const OwnVariable& v : ownVariables())
        known = known || v.name == key;
    if (!known)
        ownVariables().append({key, qEnvironmentVariableIsSet(name), qEnvironmentVariable(name)});
    qputenv(name, value);
}

QProcessEnvironment childEnvironment() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const OwnVariable& v : ownVariables()) {
        if (v.userHadIt)
            env.insert(v.name, v.userValue);
        else
            env.remove(v.name);
    }
    return env;
}

}  // namespace startup
