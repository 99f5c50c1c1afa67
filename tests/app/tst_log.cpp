#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include "app/config.h"
#include "app/limits.h"
#include "app/log.h"

class tst_Log : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    QByteArray LogText() const {
        QFile f(m_dir.filePath("Log.txt"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

private slots:
    void timeStamp_millisecondsAfterAColon() {
        char out[64];
        Log_FormatTime(out, sizeof out, 2020, 3, 2, 9, 5, 3, 7);
        QCOMPARE(QByteArray(out), QByteArray("2020-03-02 09:05:03:007"));
    }

    void record_exactLayout() {
        QCOMPARE(
            Log_Write(m_dir.path(), "START", "========================================", "mainwindow/MainWindow.cpp", 42, 0), 1);
        const QByteArray text = LogText();
        static const QRegularExpression re(
            "^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}:\\d{3}\tSTART\t={40}\t\tmainwindow/MainWindow.cpp\t42\n$");
        QVERIFY2(re.match(QString::fromLatin1(text)).hasMatch(), text.constData());
    }

    void appendZero_recreates_appendOne_adds() {
        QCOMPARE(Log_Write(m_dir.path(), "START", "first", "a.cpp", 1, 0), 1);
        QCOMPARE(Log_Write(m_dir.path(), "NOTE", "more", "a.cpp", 2, 1), 1);
        QCOMPARE(LogText().count('\n'), 2);
        // A second start leaves only its own record.
        QCOMPARE(Log_Write(m_dir.path(), "START", "second", "a.cpp", 3, 0), 1);
        const QByteArray text = LogText();
        QCOMPARE(text.count('\n'), 1);
        QVERIFY(text.contains("\tSTART\tsecond\t\ta.cpp\t3\n"));
    }

    void longTextsAndNulls_writtenWhole() {
        const QByteArray detail(3000, 'x');
        QCOMPARE(Log_Write(m_dir.path(), nullptr, detail.constData(), nullptr, -1, 0), 1);
        QVERIFY(LogText().endsWith("\t\t" + detail + "\t\t\t-1\n"));
    }

    void longWorkingDirectory_works() {
        QString deep = m_dir.path();
        while (deep.size() < 400) deep += "/a_rather_long_directory_name";
        QVERIFY(QDir().mkpath(deep));
        QCOMPARE(Log_Write(deep, "START", "deep", "f", 1, 0), 1);
        QVERIFY(QFile::exists(deep + "/Log.txt"));
    }

    void unopenableLog_returnsZero() {
        // A working directory that is a plain file: no Log.txt can be made,
        // whoever runs the test.
        const QString file = m_dir.filePath("plain");
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        QCOMPARE(Log_Write(file, "START", "x", "f", 1, 0), 0);
        QCOMPARE(Log_Write(file, "START", "x", "f", 1, 1), 0);
    }
};

QTEST_GUILESS_MAIN(tst_Log)
#include "tst_log.moc"
