// The fuzz targets drive the register-file, INI, hint and log parsers from
// memory; the program reads files. Both must give the same answers, or the
// fuzzing proves nothing about the files. Run over every committed corpus
// input and over line-end cases the corpora may lack.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "app/hintfile.h"
#include "app/regfile.h"
#include "data/LogReader.h"
#include "platform/ini.h"

namespace {

QString CorpusDir(const QString& name) { return QStringLiteral(TKEVAL_SOURCE_DIR "/tests/fuzz/corpus/") + name; }

// A register file read as the program did before it read from memory:
// QFile::readLine, one parse per line.
QList<RegFileLine> RegFileLinesByReadLine(const QString& path) {
    QList<RegFileLine> lines;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return lines;
    while (!f.atEnd()) lines << RegFile_ParseLine(f.readLine());
    return lines;
}

QString Describe(const RegFileLine& l) {
    return QStringLiteral("%1 %2 %3 '%4'")
        .arg(int(l.kind))
        .arg(l.address)
        .arg(l.value)
        .arg(QString::fromLatin1(l.valueText.toHex()));
}

QStringList Describe(const QVector<HintEntry>& entries) {
    QStringList out;
    for (const HintEntry& e : entries) out << QString::number(e.address) + QLatin1Char(' ') + e.hint.toHex();
    return out;
}

// Everything a reader tells about a log, as text to compare.
QStringList ReadLog(LogReader& r, bool opened) {
    QStringList out{opened ? QStringLiteral("open") : QStringLiteral("refused"), r.error()};
    if (!opened) return out;
    LogEvent e;
    while (r.nextEvent(&e)) {
        QString row = QStringLiteral("%1 %2 %3 %4 %5 %6 %7")
                          .arg(int(e.kind))
                          .arg(e.line)
                          .arg(e.tMs)
                          .arg(e.touch.mask)
                          .arg(e.reg)
                          .arg(e.value)
                          .arg(e.note);
        if (e.kind == LogRowKind::Sample) {
            row += QStringLiteral(" ch%1 n%2").arg(e.sample.channel).arg(e.sample.sbfCount);
            for (int k = 0; k < e.sample.sbfCount; ++k)
                row += QStringLiteral(" %1/%2/%3/%4")
                           .arg(e.sample.ref[k])
                           .arg(e.sample.sense[k])
                           .arg(e.sample.diff[k])
                           .arg(e.sample.offset[k]);
        }
        out << row;
    }
    out << r.problems() << QString::number(r.problemCount()) << QString::number(r.truncated())
        << QString::number(r.lineNumber());
    return out;
}

}  // namespace

class tst_in_memory_parsers : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    QString Put(const QByteArray& content) {
        const QString path = m_dir.filePath(QStringLiteral("input"));
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(content) != content.size()) return {};
        return path;
    }

    // The corpus of one target, plus inputs on the line-end edges.
    static void AddInputs(const char* target) {
        QTest::addColumn<QByteArray>("input");
        const QDir dir(CorpusDir(QLatin1String(target)));
        for (const QString& name : dir.entryList(QDir::Files, QDir::Name)) {
            QFile f(dir.filePath(name));
            QVERIFY(f.open(QIODevice::ReadOnly));
            QTest::newRow(qPrintable(name)) << f.readAll();
        }
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("CR LF, last line open") << QByteArray("w1001\r\n[a]\r\n; x=1\r\n[SYSTEM]\r\nDEVICE=TK2C\r\nw11");
        QTest::newRow("lone CRs") << QByteArray("\r[b\rc]\r\r\nw12\r3\n\r");
        QTest::newRow("long line") << QByteArray(70000, 'x') + "\nw1301\n[long]\n";
        QTest::newRow("NUL bytes") << QByteArray("w14\0\0\n[\0]\n", 10);
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void regfile_data() { AddInputs("regfile"); }
    void regfile() {
        QFETCH(QByteArray, input);
        const QString path = Put(input);
        QVERIFY(!path.isEmpty());
        const QList<RegFileLine> want = RegFileLinesByReadLine(path);

        RegFileReader fromFile;
        QVERIFY(fromFile.open(path));
        RegFileReader fromMemory;
        fromMemory.setData(input);
        for (const RegFileLine& w : want) {
            RegFileLine a, b;
            QVERIFY(fromFile.next(&a));
            QVERIFY(fromMemory.next(&b));
            QCOMPARE(Describe(a), Describe(w));
            QCOMPARE(Describe(b), Describe(w));
        }
        RegFileLine rest;
        QVERIFY(!fromFile.next(&rest));
        QVERIFY(!fromMemory.next(&rest));
        QCOMPARE(fromMemory.lineNumber(), fromFile.lineNumber());

        // Saved and read again, any content comes back byte for byte.
        QString why;
        QVERIFY2(RegFile_Save(path, input, &why), qPrintable(why));
        QVERIFY(fromFile.open(path));
        QCOMPARE(fromFile.data(), input);
    }

    void ini_data() { AddInputs("ini"); }
    void ini() {
        QFETCH(QByteArray, input);
        // The fuzz input's layout: three lengths, section, key, value, file.
        const auto len = [&](int i, int mod) { return i < input.size() ? uchar(input[i]) % mod : 0; };
        const int sl = len(0, 16), kl = len(1, 16), vl = len(2, 32);
        const QByteArray names = input.mid(3);
        const QString section = QString::fromUtf8(names.left(sl));
        const QString key = QString::fromUtf8(names.mid(sl, kl));
        const QString value = QString::fromUtf8(names.mid(sl + kl, vl));
        const QByteArray content = names.mid(sl + kl + vl);

        const QString path = Put(content);
        QVERIFY(!path.isEmpty());
        const QList<QPair<QString, QString>> lookups = {
            {section, key}, {"SYSTEM", "DEVICE"}, {"system", "sizeofchannel"}, {"I2C", "I2C_ADDR"}, {"S", "K"}};
        for (const auto& [s, k] : lookups) {
            QCOMPARE(Ini_GetStringFrom(content, s, k, "<def>"), Ini_GetString(path, s, k, "<def>"));
            QCOMPARE(Ini_GetIntFrom(content, s, k, -7), Ini_GetInt(path, s, k, -7));
        }

        QByteArray inMemory = content;
        const bool set = Ini_SetString(&inMemory, section, key, value);
        QCOMPARE(Ini_WriteString(path, section, key, value), set);
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), set ? inMemory : content);
    }

    void hint_data() { AddInputs("hint"); }
    void hint() {
        QFETCH(QByteArray, input);
        const QString path = Put(input);
        QVERIFY(!path.isEmpty());
        // As the window and the command line open it.
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly | QIODevice::Text));
        QCOMPARE(Describe(HintFile_Parse(input)), Describe(HintFile_Read(&f)));
    }

    void log_data() { AddInputs("log"); }
    void log() {
        QFETCH(QByteArray, input);
        const QString path = Put(input);
        QVERIFY(!path.isEmpty());
        LogReader fromFile;
        const bool fileOpened = fromFile.open(path);
        LogReader fromMemory;
        const bool memoryOpened = fromMemory.open(input, QDir::toNativeSeparators(path));
        QCOMPARE(ReadLog(fromMemory, memoryOpened), ReadLog(fromFile, fileOpened));
    }
};

QTEST_GUILESS_MAIN(tst_in_memory_parsers)
#include "tst_in_memory_parsers.moc"
