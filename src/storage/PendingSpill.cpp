// One item a line, tab-separated, after a header; the items end at "END", at a NUL (reserved
// space) or at a line cut short. Times keep their offset, values all their digits.
#include "PendingSpill.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace zeva {

namespace {

const QByteArray Header = "ZEVA-PENDING 1\n";
const QByteArray End = "END\n";

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

QByteArray escaped(const QString& text)
{
    QByteArray out;
    for (const char c : text.toUtf8()) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

QString unescaped(const QByteArray& field)
{
    QByteArray out;
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 1 < field.size()) {
            const char next = field[++i];
            out += next == 't' ? '\t' : next == 'n' ? '\n' : next;
        } else {
            out += field[i];
        }
    }
    return QString::fromUtf8(out);
}

QByteArray number(double v)
{
    return QByteArray::number(v, 'g', 17);
}

QByteArray lineOf(const TPendingItem& item)
{
    QList<QByteArray> fields;
    if (const auto* r = std::get_if<TRecordRow>(&item)) {
        fields << "R" << r->when.toString(Qt::ISODateWithMs).toUtf8() << QByteArray::number(r->address);
        for (double v : r->live)
            fields << number(v);
        for (double v : r->blackBox)
            fields << number(v);
    } else {
        const TJournalEntry& j = std::get<TJournalEntry>(item);
        fields << "J" << QByteArray::number(int(j.what)) << j.when.toString(Qt::ISODateWithMs).toUtf8()
               << QByteArray::number(j.address) << escaped(j.kind) << escaped(j.text) << QByteArray::number(j.priority)
               << (j.value ? number(*j.value) : QByteArray()) << QByteArray(j.chatter ? "1" : "0");
    }
    return fields.join('\t') + '\n';
}

// An item from its line; false for a line that is none.
bool itemOf(const QByteArray& line, TPendingItem& item)
{
    const QList<QByteArray> f = line.split('\t');
    bool ok = true;
    const auto integer = [&](const QByteArray& t) {
        bool good = false;
        const int v = t.toInt(&good);
        ok = ok && good;
        return v;
    };
    const auto real = [&](const QByteArray& t) {
        bool good = false;
        const double v = t.toDouble(&good);
        ok = ok && good;
        return v;
    };
    if (f.size() == 11 && f[0] == "R") {
        TRecordRow r;
        r.when = QDateTime::fromString(QString::fromUtf8(f[1]), Qt::ISODateWithMs);
        r.address = integer(f[2]);
        for (std::size_t i = 0; i < 4; ++i) {
            r.live[i] = real(f[3 + qsizetype(i)]);
            r.blackBox[i] = real(f[7 + qsizetype(i)]);
        }
        item = r;
        return ok && r.when.isValid();
    }
    // Files kept by older versions have no priority, value and chatter.
    if ((f.size() == 6 || f.size() == 9) && f[0] == "J") {
        TJournalEntry j;
        const int what = integer(f[1]);
        j.what = TJournalEntry::What(std::clamp(what, 0, 2));
        j.when = QDateTime::fromString(QString::fromUtf8(f[2]), Qt::ISODateWithMs);
        j.address = integer(f[3]);
        j.kind = unescaped(f[4]);
        j.text = unescaped(f[5]);
        if (f.size() == 9) {
            j.priority = integer(f[6]);
            if (!f[7].isEmpty())
                j.value = real(f[7]);
            j.chatter = f[8] == "1";
        }
        item = j;
        return ok && what >= 0 && what <= 2 && j.when.isValid();
    }
    return false;
}

// Syncs the folder, so that a new file's name survives a power cut too.
void syncFolder(const QString& file)
{
    const int dir = ::open(QFile::encodeName(QFileInfo(file).absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

} // namespace

QString PendingFileFor(const QString& dataPath)
{
    return dataPath + QStringLiteral("/DataBase/Data.db.pending");
}

bool ReservePending(const QString& file, qint64 bytes, QString* error)
{
    const int fd = ::open(QFile::encodeName(file).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = systemError();
        return false;
    }
    const int rc = ::posix_fallocate(fd, 0, bytes);
    if (rc == 0)
        ::fsync(fd);
    ::close(fd);
    if (rc != 0) {
        *error = QString::fromLocal8Bit(std::strerror(rc));
        return false;
    }
    syncFolder(file);
    return true;
}

std::size_t WritePending(const QString& file, const std::vector<TPendingItem>& items, QString* error)
{
    const int fd = ::open(QFile::encodeName(file).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = systemError();
        return 0;
    }
    // Into the reserved space first; past it only while the disk has room.
    off_t at = 0;
    std::size_t whole = 0;
    const auto put = [&](const QByteArray& bytes) {
        for (qsizetype done = 0; done < bytes.size();) {
            const ssize_t n = ::pwrite(fd, bytes.constData() + done, std::size_t(bytes.size() - done), at + done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                *error = n < 0 ? systemError() : QStringLiteral("nothing written");
                return false;
            }
            done += n;
        }
        at += bytes.size();
        return true;
    };
    bool ok = put(Header);
    for (std::size_t i = 0; ok && i < items.size(); ++i)
        if ((ok = put(lineOf(items[i]))))
            ++whole;
    if (ok)
        ok = put(End);
    // What was written whole is kept; a line cut short ends the items when read.
    if (::ftruncate(fd, at) != 0 || ::fsync(fd) != 0) {
        *error = systemError();
        whole = 0;
    }
    ::close(fd);
    syncFolder(file);
    return whole;
}

std::vector<TPendingItem> ReadPending(const QString& file, QString* error)
{
    std::vector<TPendingItem> items;
    QFile f(file);
    if (!f.exists())
        return items;
    if (!f.open(QIODevice::ReadOnly)) {
        *error = f.errorString();
        return items;
    }
    const QByteArray all = f.readAll();
    if (all.isEmpty() || all[0] == '\0')
        return items; // emptied, or reserved space only
    if (!all.startsWith(Header)) {
        *error = QStringLiteral("不是本程序认得的暂存文件，未读取");
        return items;
    }
    qsizetype at = Header.size();
    int unreadable = 0;
    bool ended = false;
    for (;;) {
        const qsizetype end = all.indexOf('\n', at);
        if (end < 0)
            break; // cut short
        const QByteArray line = all.mid(at, end - at);
        if ((ended = line == "END") || line.contains('\0'))
            break;
        TPendingItem item;
        if (itemOf(line, item))
            items.push_back(std::move(item));
        else
            ++unreadable;
        at = end + 1;
    }
    if (unreadable > 0 || !ended)
        *error = QStringLiteral("%1 行无法读取，已略过%2").arg(unreadable).arg(ended ? QString() : QStringLiteral("；文件在结束标记之前中断"));
    return items;
}

bool ClearPending(const QString& file, QString* error)
{
    const int fd = ::open(QFile::encodeName(file).constData(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = systemError();
        return false;
    }
    // A NUL where the header was: the reserved space stays.
    const char zero = 0;
    const bool ok = ::pwrite(fd, &zero, 1, 0) == 1 && ::fsync(fd) == 0;
    if (!ok)
        *error = systemError();
    ::close(fd);
    return ok;
}

} // namespace zeva
