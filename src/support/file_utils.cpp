#include "support/file_utils.h"

#include "support/error_log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

bool FileExists(const QString& folderspec) {
    if (folderspec.isEmpty()) {
        return false;
    }
    const QFileInfo info(folderspec);
    return info.exists() && info.isFile();
}

int ClassicFileError(const QFileDevice& file, const QString& path) {
    const QFileInfo info(path);
    if (path.isEmpty()) {
        return 52;
    }
    if (!info.absoluteDir().exists()) {
        return 76;
    }
    if (info.isDir()) {
        return 75;
    }
    switch (file.error()) {
    case QFileDevice::PermissionsError:
        return 70;
    case QFileDevice::WriteError:
    case QFileDevice::ResourceError:
        return 61;
    default:
        // Open and read failures among them: the file is there but unusable, not there in a
        // folder that may not be written, or not there at all.
        if (info.exists()) {
            return 75;
        }
        return QFileInfo(info.absolutePath()).isWritable() ? 53 : 70;
    }
}

namespace {

// A destination that exists but is not a writable regular file is refused before anything is
// written, as opening it for writing would have been.
bool DestinationWritable(const QString& dest, int* errorNumber) {
    const QFileInfo info(dest);
    if (dest.isEmpty()) {
        *errorNumber = 52;
        return false;
    }
    if (!info.absoluteDir().exists()) {
        *errorNumber = 76;
        return false;
    }
    if (info.exists() && (!info.isFile() || !info.isWritable())) {
        *errorNumber = info.isDir() ? 75 : 70;
        return false;
    }
    return true;
}

} // namespace

bool WriteAllAndFlush(QFileDevice& file, const QByteArray& bytes) {
    // QSaveFile::commit() does not see a failure of the flush it makes itself (a full disk
    // once the buffer goes out), and would put a short file in place: flush here and check.
    return file.write(bytes) == bytes.size() && file.flush();
}

void BinaryCopyFile(ErrorLog& log, const QString& Source, const QString& Dest) {
    log.ProcedureName = QStringLiteral("BinaryCopyFile");
    bool failedOnce = false;
    // True when the step may go on; logs the first failure, ends the copy on the second.
    auto fail = [&](int number, int step) {
        if (failedOnce) {
            return false;
        }
        failedOnce = true;
        log.ErrorHandle(QString::number(number), QString::number(step),
                        log.AppName + QLatin1Char('.') + QStringLiteral("BinaryCopyFile"), QString());
        log.ProcedureName = QStringLiteral("BinaryCopyFile");
        return true;
    };

    // 10: take a free file handle (nothing to do with Qt's files).
    QFile source(Source);
    bool sourceOpen = false;
    // 20
    if (source.open(QIODevice::ReadOnly) && !QFileInfo(Source).isDir()) {
        sourceOpen = true;
    } else if (!fail(ClassicFileError(source, Source), 20)) {
        return;
    }
    // 30: prepare a buffer as long as Source.
    QByteArray buffer;
    if (sourceOpen) {
        buffer.reserve(static_cast<int>(source.size()));
    } else if (!fail(53, 30)) {
        return;
    }
    // 40
    bool haveData = false;
    if (sourceOpen) {
        buffer = source.readAll();
        haveData = source.error() == QFileDevice::NoError;
    }
    if (!haveData && !fail(sourceOpen ? 75 : 53, 40)) {
        return;
    }
    // 50
    source.close();
    // 60: take a free file handle.
    // 70
    QSaveFile dest(Dest);
    int number = 0;
    bool destOpen = DestinationWritable(Dest, &number) && dest.open(QIODevice::WriteOnly);
    if (!destOpen) {
        if (number == 0) {
            number = ClassicFileError(dest, Dest);
        }
        if (!fail(number, 70)) {
            return;
        }
    }
    // 80: without the source's bytes nothing is put in place of Dest.
    bool written = false;
    if (destOpen && haveData) {
        written = WriteAllAndFlush(dest, buffer);
    }
    if (!written) {
        dest.cancelWriting();
        if (!fail(destOpen ? 61 : number, 80)) {
            return;
        }
    }
    // 90
    if (destOpen && !dest.commit()) {
        fail(61, 90);
    }
}

QString FindFileIgnoringCase(const QString& name) {
    if (QFileInfo::exists(name)) {
        return name;
    }
    const QFileInfo info(name);
    const QDir dir = info.dir();
    const QStringList entries = dir.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    for (const QString& entry : entries) {
        if (entry.compare(info.fileName(), Qt::CaseInsensitive) == 0) {
            // The caller's folder as written: "batterynight.txt", not "./batterynight.txt".
            return name.left(name.size() - info.fileName().size()) + entry;
        }
    }
    return name;
}
