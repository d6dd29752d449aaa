#include "worker/portproblem.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSet>

#include <cerrno>
#include <cstring>
#include <iterator>

#ifdef Q_OS_LINUX
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

namespace {

// Services that open serial ports of their own accord: a modem prober, a braille display driver.
const char *const kPortGrabbers[] = {"ModemManager", "brltty"};

// Where QSerialPort puts its lock file on Debian, named after the port as it names it.
const QString kLockFolder = QStringLiteral("/var/lock");

#ifdef Q_OS_LINUX

QString processName(qint64 pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    return comm.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(comm.readAll()).trimmed() : QString();
}

bool sameFile(const struct stat &a, const struct stat &b)
{
    if (S_ISCHR(a.st_mode) && S_ISCHR(b.st_mode))
        return a.st_rdev == b.st_rdev;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The processes holding a flock on the file: /proc/locks names the inode as MAJOR:MINOR:INODE
// of its file system, the first two in hexadecimal.
QList<qint64> lockHolders(const struct stat &file)
{
    QList<qint64> pids;
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly))
        return pids;
    const QString inode = QStringLiteral("%1:%2:%3")
                              .arg(major(file.st_dev), 2, 16, QLatin1Char('0'))
                              .arg(minor(file.st_dev), 2, 16, QLatin1Char('0'))
                              .arg(quint64(file.st_ino));
    for (const QByteArray &line : locks.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        // "1: FLOCK ADVISORY WRITE 1234 00:1a:4 0 EOF"; waiters carry a "->" and hold nothing.
        if (fields.size() >= 6 && fields.at(1) == "FLOCK" && QString::fromLatin1(fields.at(5)) == inode)
            pids << fields.at(4).toLongLong();
    }
    return pids;
}

// Processes with the file open; those of other users stay unseen without the right to look.
QList<qint64> openHolders(const struct stat &file)
{
    QList<qint64> pids;
    const qint64 self = QCoreApplication::applicationPid();
    const QStringList processes = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : processes) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (!number || pid == self)
            continue;
        const QString fdFolder = QStringLiteral("/proc/%1/fd").arg(pid);
        const QStringList fds = QDir(fdFolder).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        for (const QString &fd : fds) {
            struct stat open;
            if (::stat(QFile::encodeName(fdFolder + QLatin1Char('/') + fd).constData(), &open) == 0 &&
                sameFile(open, file)) {
                pids << pid;
                break;
            }
        }
    }
    return pids;
}

QStringList runningPortGrabbers()
{
    QSet<QString> found;
    const QStringList processes = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : processes) {
        const QString name = processName(entry.toLongLong());
        for (const char *grabber : kPortGrabbers)
            if (name == QLatin1String(grabber))
                found.insert(name);
    }
    QStringList names = found.values();
    names.sort();
    return names;
}

bool processRuns(qint64 pid)
{
    return pid > 0 && QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid));
}

void examineAccess(PortFacts &facts, const struct stat &file)
{
    if (const passwd *user = ::getpwuid(file.st_uid))
        facts.owner = QString::fromLocal8Bit(user->pw_name);
    if (const group *fileGroup = ::getgrgid(file.st_gid))
        facts.group = QString::fromLocal8Bit(fileGroup->gr_name);
    facts.mode = int(file.st_mode & 07777);
    facts.groupMayUse = (file.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP) && file.st_gid != 0;

    // The account's groups as /etc/group has them against those this login started with.
    const passwd *account = ::getpwuid(::getuid());
    if (!account)
        return;
    gid_t accountGroups[256];
    int accountCount = int(std::size(accountGroups));
    bool inAccount = false;
    if (::getgrouplist(account->pw_name, account->pw_gid, accountGroups, &accountCount) >= 0)
        for (int i = 0; i < accountCount; ++i)
            inAccount = inAccount || accountGroups[i] == file.st_gid;
    gid_t loginGroups[256];
    const int loginCount = ::getgroups(int(std::size(loginGroups)), loginGroups);
    bool inLogin = ::getegid() == file.st_gid;
    for (int i = 0; i < loginCount; ++i)
        inLogin = inLogin || loginGroups[i] == file.st_gid;
    facts.inGroupNotInLogin = inAccount && !inLogin;
}

void examineHolders(PortFacts &facts, const struct stat &file)
{
    // The lock's holder is the one that refused us; other processes with the device open (such
    // as a simulator, which keeps its pseudo-terminal open) are named only when no lock says more.
    QList<qint64> pids = lockHolders(file);

    QString lockName = facts.location.startsWith(QLatin1String("/dev/")) ? facts.location.mid(5) : facts.location;
    lockName.replace(QLatin1Char('/'), QLatin1Char('_'));
    const QString lockPath = kLockFolder + QStringLiteral("/LCK..") + lockName;
    qint64 lockPid = 0;
    QString host;
    QString application;
    if (QFileInfo::exists(lockPath) && QLockFile(lockPath).getLockInfo(&lockPid, &host, &application)) {
        if (processRuns(lockPid)) {
            if (!pids.contains(lockPid))
                pids.prepend(lockPid);
        } else {
            facts.staleLockFile = lockPath;
            facts.staleLockPid = lockPid;
        }
    }

    if (pids.isEmpty())
        pids = openHolders(file);
    for (qint64 pid : pids)
        facts.holders.append({pid, processName(pid)});
    if (facts.holders.isEmpty())
        facts.portGrabbers = runningPortGrabbers();
}

#endif

bool isNotFound(int error)
{
    return error == ENOENT || error == ENODEV || error == ENXIO;
}

bool isBusy(int error)
{
    return error == EBUSY || error == EWOULDBLOCK;
}

QString holderList(const QList<PortFacts::Holder> &holders)
{
    QStringList names;
    for (const PortFacts::Holder &holder : holders)
        names << QStringLiteral("%1 (PID %2)")
                     .arg(holder.name.isEmpty() ? QStringLiteral("a process") : holder.name)
                     .arg(holder.pid);
    return names.join(QStringLiteral(", "));
}

QString grabberRemedy(const QString &name)
{
    if (name == QLatin1String("ModemManager"))
        return QStringLiteral("stop it with `sudo systemctl stop ModemManager`, or keep it away from the port with "
                              "the udev rules");
    return QStringLiteral("stop it with `sudo systemctl stop brltty`, or remove the brltty package if no braille "
                          "display is used");
}

QString busyText(const PortFacts &facts)
{
    const QString &path = facts.location;
    for (const PortFacts::Holder &holder : facts.holders)
        for (const char *grabber : kPortGrabbers)
            if (holder.name == QLatin1String(grabber))
                return QStringLiteral("Busy: %1 is in use by %2: %3.")
                    .arg(path, holderList(facts.holders), grabberRemedy(holder.name));
    if (!facts.holders.isEmpty())
        return QStringLiteral("Busy: %1 is in use by %2: close it there first.").arg(path, holderList(facts.holders));
    if (!facts.staleLockFile.isEmpty())
        return QStringLiteral("Busy: %1 is locked by %2, left by PID %3, which has ended: remove it with `sudo rm %2`.")
            .arg(path, facts.staleLockFile)
            .arg(facts.staleLockPid);
    if (!facts.portGrabbers.isEmpty())
        return QStringLiteral("Busy: %1 is in use, and %2 is running, which opens serial ports by itself: %3.")
            .arg(path, facts.portGrabbers.first(), grabberRemedy(facts.portGrabbers.first()));
    return QStringLiteral("Busy: %1 is in use by another program (%2).").arg(path, facts.systemText);
}

QString permissionText(const PortFacts &facts)
{
    const QString &path = facts.location;
    if (facts.groupMayUse && facts.inGroupNotInLogin)
        return QStringLiteral("Permission denied on %1: you are in its group %2, but this login is not yet: log out "
                              "and in again.")
            .arg(path, facts.group);
    if (facts.groupMayUse)
        return QStringLiteral("Permission denied on %1: join its group %2 with `sudo usermod -aG %2 $USER`, then log "
                              "out and in again.")
            .arg(path, facts.group);
    return QStringLiteral("Permission denied on %1 (owner %2, group %3, mode %4): no group of users may use it; the "
                          "udev rules of the package give the desktop user access.")
        .arg(path, facts.owner, facts.group, QString::number(facts.mode, 8).rightJustified(4, QLatin1Char('0')));
}

} // namespace

PortFacts examinePort(PortFacts::Event event, const QString &location, int error, const QString &systemText)
{
    PortFacts facts;
    facts.event = event;
    facts.location = location;
    facts.error = error;
    facts.systemText = systemText;
    const QFileInfo info(location);
    facts.exists = info.exists();
    if (!facts.exists && info.isSymLink())
        facts.linkTarget = info.symLinkTarget();
#ifdef Q_OS_LINUX
    struct stat file;
    if (facts.exists && ::stat(QFile::encodeName(location).constData(), &file) == 0) {
        facts.serialDevice = S_ISCHR(file.st_mode);
        if (error == EACCES || error == EPERM)
            examineAccess(facts, file);
        else if (isBusy(error))
            examineHolders(facts, file);
    }
#endif
    return facts;
}

QString portProblemText(const PortFacts &facts)
{
    const QString &path = facts.location;
    if (path.isEmpty())
        return QStringLiteral("No port given: choose one from the list or type its path.");
    if (facts.event == PortFacts::Event::Lost)
        return facts.exists ? QStringLiteral("%1 failed: %2.").arg(path, facts.systemText)
                            : QStringLiteral("%1 is gone: the adapter was unplugged or lost power.").arg(path);
    if (!facts.exists || isNotFound(facts.error)) {
        const QString what =
            facts.linkTarget.isEmpty() ? path : QStringLiteral("%1 leads to %2, which").arg(path, facts.linkTarget);
        return QStringLiteral("No such device: %1 does not exist; is the board plugged in and the name right?")
            .arg(what);
    }
    if (facts.error == EACCES || facts.error == EPERM)
        return permissionText(facts);
    if (isBusy(facts.error))
        return busyText(facts);
    if (!facts.serialDevice)
        return QStringLiteral("%1 is not a serial port (%2).").arg(path, facts.systemText);
    const QString reason =
        facts.systemText.isEmpty() ? QString::fromLocal8Bit(std::strerror(facts.error)) : facts.systemText;
    return QStringLiteral("%1 cannot be opened: %2.").arg(path, reason);
}
