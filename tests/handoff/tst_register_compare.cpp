// Reading register files whole for a comparison, and the comparison itself.
#include <QTemporaryDir>
#include <QtTest>

#include "handoff/RegisterSet.h"

class tst_register_compare : public QObject {
    Q_OBJECT

private slots:
    void init() { QVERIFY(m_dir.isValid()); }
    void read_data();
    void read();
    void compare_data();
    void compare();

private:
    QString write(const QString& name, const QByteArray& text) {
        QFile f(m_dir.filePath(name));
        if (!f.open(QIODevice::WriteOnly)) return QString();
        f.write(text);
        return f.fileName();
    }
    QTemporaryDir m_dir;
};

void tst_register_compare::read_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("content");  // "RR=VV ..." or the error's tail
    QTest::newRow("notes and CR LF") << QByteArray("tuned 2026\r\nw0012\r\nw2A05\r\n") << "00=12 2A=05";
    QTest::newRow("half-filled cells") << QByteArray("w0A\nw0B5\n") << "0A=00 0B=05";
    QTest::newRow("last write wins") << QByteArray("w2001\nw2002\n") << "20=02";
    QTest::newRow("empty file") << QByteArray() << "";
    QTest::newRow("bad address") << QByteArray("w0012\nnote\nwXY12\n") << "line 3: \"w\" is not followed";
    QTest::newRow("bad value") << QByteArray("w0012\nw2AZZ\n") << "line 2: register 2A has no hex value";
    QTest::newRow("note starting with w") << QByteArray("warning: old\n") << "line 1:";
}

void tst_register_compare::read() {
    QFETCH(QByteArray, text);
    QFETCH(QString, content);
    const QString path = write("a.sf", text);
    RegisterSet set;
    set.insert(0x77, 0x77);  // a refused file leaves the caller's set alone
    QString error;
    const bool ok = RegisterSet_Read(path, &set, &error);
    if (content.startsWith("line")) {
        QVERIFY(!ok);
        QVERIFY2(error.startsWith(path + ": " + content), qPrintable(error));
        QCOMPARE(set.value(0x77), uint8_t(0x77));
        return;
    }
    QVERIFY2(ok, qPrintable(error));
    QStringList got;
    for (auto it = set.cbegin(); it != set.cend(); ++it) got << QString::asprintf("%02X=%02X", it.key(), it.value());
    QCOMPARE(got.join(' '), content);
}

void tst_register_compare::compare_data() {
    QTest::addColumn<QByteArray>("a");
    QTest::addColumn<QByteArray>("b");
    QTest::addColumn<QString>("diffs");  // "RR:A:B" with -1 for a register missing on that side
    QTest::newRow("equal, notes aside") << QByteArray("w0012\nw2005\n") << QByteArray("# x\nw2005\nw0012\n") << "";
    QTest::newRow("values differ") << QByteArray("w0012\nw2005\nw2106\n") << QByteArray("w0013\nw2005\nw2107\n")
                                   << "00:18:19 21:6:7";
    QTest::newRow("one side only") << QByteArray("w0012\nw3001\n") << QByteArray("w0012\nwFF00\n") << "30:1:-1 FF:-1:0";
}

void tst_register_compare::compare() {
    QFETCH(QByteArray, a);
    QFETCH(QByteArray, b);
    QFETCH(QString, diffs);
    RegisterSet sa;
    RegisterSet sb;
    QString error;
    QVERIFY(RegisterSet_Read(write("a.sf", a), &sa, &error));
    QVERIFY(RegisterSet_Read(write("b.sf", b), &sb, &error));
    QStringList got;
    for (const RegisterDifference& d : RegisterSet_Compare(sa, sb))
        got << QString::asprintf("%02X:%d:%d", d.reg, d.a, d.b);
    QCOMPARE(got.join(' '), diffs);
}

QTEST_GUILESS_MAIN(tst_register_compare)
#include "tst_register_compare.moc"
