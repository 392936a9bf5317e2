#pragma once

#include <QFileSystemWatcher>
#include <QTimer>
#include <QWidget>

#include <functional>

class QLabel;
class QPlainTextEdit;

// A read-only window on one text file that keeps showing its newest lines: appended lines are
// added, a file replaced by a new one is shown again. Only the last part of a large file is
// loaded, so opening never stalls the program.
class LogViewer : public QWidget {
    Q_OBJECT
public:
    // At most this much of the file's end is shown.
    static constexpr qint64 kTailBytes = qint64{1} << 20;

    // Opens a new viewer, maximized and focused, at the end of the file; nullptr without one for
    // anything but an existing regular file.
    static LogViewer* Open(const QString& path, QWidget* parent);

    QPlainTextEdit* view() const { return view_; }
    const QString& path() const { return path_; }

    // Looks at the file again; the watcher and the poll timer call it.
    void check();

Q_SIGNALS:
    // The shown text changed.
    void updated();

private:
    LogViewer(const QString& path, QWidget* parent);
    void reload();
    void readFrom(qint64 offset);
    void watch();
    bool atEnd() const;
    void scrollToEnd();

    QString path_;
    QPlainTextEdit* view_ = nullptr;
    QFileSystemWatcher watcher_;
    QTimer poll_;
    // What was read: bytes up to the end of the last whole line, and the file's identity.
    qint64 consumed_ = 0;
    qint64 size_ = 0;
    quint64 inode_ = 0;
    qint64 mtimeNs_ = 0;
    // Characters of an unfinished last line on show; it is shown again once it grows.
    int partialChars_ = 0;
};

// A double click on the label opens a viewer on the file its field names.
void OpenLogOnDoubleClick(QLabel* label, std::function<QString()> path);
