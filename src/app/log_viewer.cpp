#include "app/log_viewer.h"

#include "support/file_utils.h"

#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <QVBoxLayout>

#include <algorithm>
#include <sys/stat.h>

namespace {
constexpr int kPollMs = 1000;

struct FileId {
    bool exists = false;
    qint64 size = 0;
    quint64 inode = 0;
    qint64 mtimeNs = 0;
};

FileId Identify(const QString& path) {
    struct stat st {};
    FileId id;
    if (::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode)) {
        id.exists = true;
        id.size = st.st_size;
        id.inode = st.st_ino;
        id.mtimeNs = static_cast<qint64>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    }
    return id;
}

// The program writes CR LF; the view holds one character per line end.
QString Shown(const QByteArray& bytes) {
    return QString::fromLocal8Bit(bytes).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

class DoubleClickFilter : public QObject {
public:
    DoubleClickFilter(QLabel* label, std::function<QString()> path)
        : QObject(label), label_(label), path_(std::move(path)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != label_ || event->type() != QEvent::MouseButtonDblClick) {
            return false;
        }
        LogViewer::Open(path_(), label_->window());
        // Taken here, so the window behind does not also toggle its height.
        return true;
    }

private:
    QLabel* label_;
    std::function<QString()> path_;
};
} // namespace

LogViewer* LogViewer::Open(const QString& path, QWidget* parent) {
    if (!FileExists(path)) {
        return nullptr;
    }
    auto* viewer = new LogViewer(path, parent);
    viewer->showMaximized();
    viewer->raise();
    viewer->activateWindow();
    return viewer;
}

LogViewer::LogViewer(const QString& path, QWidget* parent)
    // A window of its own, yet closed with the main window and no reason to keep the program on.
    : QWidget(parent, Qt::Window), path_(path) {
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("LogViewer"));
    setAccessibleName(QStringLiteral("LogViewer"));
    setWindowTitle(QFileInfo(path).fileName() + QStringLiteral(" - ") + QFileInfo(path).absoluteFilePath());
    view_ = new QPlainTextEdit(this);
    view_->setObjectName(QStringLiteral("LogViewerText"));
    view_->setAccessibleName(QStringLiteral("LogViewerText"));
    view_->setReadOnly(true);
    view_->setLineWrapMode(QPlainTextEdit::NoWrap);
    view_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view_);

    connect(&watcher_, &QFileSystemWatcher::fileChanged, this, &LogViewer::check);
    // The watcher misses a file replaced by a rename on some systems, and drops its path then.
    connect(&poll_, &QTimer::timeout, this, &LogViewer::check);
    poll_.start(kPollMs);
    reload();
    watch();
}

void LogViewer::watch() {
    if (!watcher_.files().contains(path_) && FileExists(path_)) {
        watcher_.addPath(path_);
    }
}

bool LogViewer::atEnd() const {
    const QScrollBar* bar = view_->verticalScrollBar();
    return bar->value() >= bar->maximum();
}

void LogViewer::scrollToEnd() {
    view_->moveCursor(QTextCursor::End);
    view_->verticalScrollBar()->setValue(view_->verticalScrollBar()->maximum());
}

void LogViewer::check() {
    watch();
    const FileId id = Identify(path_);
    if (!id.exists) {
        // Between a removal and the new file's rename: keep what is shown.
        return;
    }
    // Same size but a new time: rewritten in place. Too much growth is loaded as a new tail.
    const bool replaced = id.inode != inode_ || id.size < consumed_ || id.size - consumed_ > kTailBytes ||
                          (id.size == size_ && id.mtimeNs != mtimeNs_);
    if (replaced) {
        reload();
    } else if (id.size != size_) {
        const bool wasAtEnd = atEnd();
        readFrom(consumed_);
        if (wasAtEnd) {
            scrollToEnd();
        }
        Q_EMIT updated();
    }
}

void LogViewer::reload() {
    const FileId id = Identify(path_);
    QFile file(path_);
    if (!id.exists || !file.open(QIODevice::ReadOnly)) {
        return;
    }
    qint64 start = 0;
    if (id.size > kTailBytes) {
        // Start at the first whole line of the tail.
        start = id.size - kTailBytes;
        file.seek(start);
        const QByteArray head = file.read(kTailBytes);
        const qsizetype newline = head.indexOf('\n');
        start += newline < 0 ? head.size() : newline + 1;
    }
    file.seek(start);
    const QByteArray bytes = file.read(id.size - start);
    const QString text = Shown(bytes);
    if (inode_ != 0 && text == view_->toPlainText()) {
        // The battery state file is replaced every cycle, mostly by the same text: no redraw.
        inode_ = id.inode;
        mtimeNs_ = id.mtimeNs;
        return;
    }
    const bool first = inode_ == 0;
    const bool wasAtEnd = atEnd();
    const int scroll = view_->verticalScrollBar()->value();
    view_->clear();
    partialChars_ = 0;
    consumed_ = start;
    inode_ = id.inode;
    readFrom(start);
    if (first || wasAtEnd) {
        scrollToEnd();
    } else {
        view_->verticalScrollBar()->setValue(scroll);
    }
    Q_EMIT updated();
}

void LogViewer::readFrom(qint64 offset) {
    QFile file(path_);
    const FileId id = Identify(path_);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(offset)) {
        return;
    }
    const QByteArray bytes = file.read(std::min(id.size - offset, kTailBytes));
    const qsizetype lastNewline = bytes.lastIndexOf('\n');
    // The unfinished line on show goes, and comes back with whatever was added to it.
    QTextCursor cursor(view_->document());
    cursor.movePosition(QTextCursor::End);
    cursor.movePosition(QTextCursor::PreviousCharacter, QTextCursor::KeepAnchor, partialChars_);
    cursor.insertText(Shown(bytes));
    partialChars_ = static_cast<int>(Shown(bytes.mid(lastNewline + 1)).size());
    consumed_ = offset + lastNewline + 1;
    size_ = offset + bytes.size();
    mtimeNs_ = id.mtimeNs;
}

void OpenLogOnDoubleClick(QLabel* label, std::function<QString()> path) {
    label->installEventFilter(new DoubleClickFilter(label, std::move(path)));
}
