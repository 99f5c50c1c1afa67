// The exported header: register names from awkward hints, the prefix rule,
// and the header itself, compiled as C99 and as C++ with warnings as errors
// by the system's compilers and run to print the values it carries.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "handoff/HeaderWriter.h"
#include "handoff/RegisterNames.h"

namespace {

HandoffInfo Info() {
    HandoffInfo info;
    info.toolVersion = QStringLiteral("9.9");
    info.date = QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7), Qt::UTC);
    info.device = QStringLiteral("TK2C */ evil");
    info.family = 4;
    info.firmware = QStringLiteral("v3.2");
    info.i2c = 0xB4;
    info.source = QStringLiteral("file a?\?/.sf");
    return info;
}

// Hints that break comments, trigraphs, UTF-8 text, duplicates and blanks.
QVector<NamedRegister> AwkwardSet() {
    QMap<int, QString> hints;
    hints[0x00] = QStringLiteral("Chip ID");
    hints[0x01] = QStringLiteral("Control */ int x; /*");
    hints[0x02] = QStringLiteral("감도");
    hints[0x03] = QStringLiteral("SIN 1 sens");
    hints[0x04] = QStringLiteral("SIN 1 sens");
    hints[0x05] = QStringLiteral("I2C addr");  // the header's own macro
    hints[0x06] = QStringLiteral("what?\?/");
    hints[0x20] = QStringLiteral("  ");
    QVector<NamedRegister> regs;
    for (int reg : {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x20, 0xFF})
        regs.append({reg, static_cast<uint8_t>(0xA0 ^ reg), QString(), QString()});
    RegName_Assign(&regs, hints, Header_ReservedNames());
    return regs;
}

struct Built {
    bool ok = false;
    QString log;
    QStringList lines;
};

// Compiles main(), which includes the header and prints every macro and
// array entry, with compiler and flags; runs it.
Built CompileAndRun(const QString& compiler, const QStringList& flags, const QByteArray& header,
                    const QVector<NamedRegister>& regs) {
    Built b;
    QTemporaryDir dir;
    QFile h(dir.filePath("tuning.h"));
    if (!h.open(QIODevice::WriteOnly) || h.write(header) != header.size()) return b;
    h.close();
    QByteArray main =
        "#include <stdio.h>\n#include \"tuning.h\"\n#include \"tuning.h\"\n"
        "int main(void) {\n    unsigned i;\n"
        "    printf(\"addr %02X\\n\", (unsigned)T_I2C_ADDR);\n";
    for (const NamedRegister& r : regs)
        main += "    printf(\"T_" + r.name.toLatin1() + " %02X\\n\", (unsigned)T_" + r.name.toLatin1() + ");\n";
    main +=
        "    for (i = 0; i < T_REG_VALUE_COUNT; ++i)\n"
        "        printf(\"%02X=%02X\\n\", (unsigned)t_reg_values[i].reg, (unsigned)t_reg_values[i].value);\n"
        "    return 0;\n}\n";
    QFile m(dir.filePath("main.c"));
    if (!m.open(QIODevice::WriteOnly)) return b;
    m.write(main);
    m.close();
    QProcess cc;
    cc.setWorkingDirectory(dir.path());
    cc.setProcessChannelMode(QProcess::MergedChannels);
    QStringList args = flags;
    args << (compiler.endsWith("++") ? QStringList{"-x", "c++"} : QStringList{}) << "main.c"
         << "-o"
         << "main";
    cc.start(compiler, args);
    if (!cc.waitForFinished(120000) || cc.exitCode() != 0) {
        b.log = QString::fromLocal8Bit(cc.readAll());
        return b;
    }
    QProcess run;
    run.start(dir.filePath("main"), {});
    if (!run.waitForFinished(30000) || run.exitCode() != 0) return b;
    b.lines = QString::fromLatin1(run.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    b.ok = true;
    return b;
}

}  // namespace

class tst_header_export : public QObject {
    Q_OBJECT

private slots:
    void nameFromHint_data();
    void nameFromHint();
    void assign_settlesClashes_data();
    void assign_settlesClashes();
    void prefix_data();
    void prefix();
    void header_compilesAndCarriesTheValues_data();
    void header_compilesAndCarriesTheValues();
    void json_holdsTheSameContent();
};

void tst_header_export::nameFromHint_data() {
    QTest::addColumn<QString>("hint");
    QTest::addColumn<QString>("name");
    QTest::newRow("words") << "Chip ID"
                           << "CHIP_ID";
    QTest::newRow("blanks around") << "  SIN 1 sens\t"
                                   << "SIN_1_SENS";
    QTest::newRow("symbols") << "Ctrl/Stat (r/w) #2"
                             << "CTRL_STAT_R_W_2";
    QTest::newRow("comment breakers") << "*/ x /*"
                                      << "X";
    QTest::newRow("Korean only") << "감도 조정"
                                 << "";
    QTest::newRow("Korean and Latin") << "감도 SIN1"
                                      << "SIN1";
    QTest::newRow("accented letters") << "Empfindlichkeit Fühler"
                                      << "EMPFINDLICHKEIT_F_HLER";
    QTest::newRow("leading digit") << "1st key"
                                   << "1ST_KEY";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("only symbols") << "--- ???"
                                  << "";
}

void tst_header_export::nameFromHint() {
    QFETCH(QString, hint);
    QFETCH(QString, name);
    QCOMPARE(RegName_FromHint(hint), name);
}

void tst_header_export::assign_settlesClashes_data() {
    QTest::addColumn<QStringList>("hints");  // "RR=hint"; registers without one have no cell
    QTest::addColumn<QStringList>("regs");
    QTest::addColumn<QStringList>("names");
    QTest::newRow("no hint") << QStringList{} << QStringList{"2A"} << QStringList{"REG_2A"};
    QTest::newRow("duplicates both get their address")
        << QStringList{"20=Sens", "21=Sens", "22=Other"} << QStringList{"20", "21", "22"}
        << QStringList{"SENS_20", "SENS_21", "OTHER"};
    QTest::newRow("a hint that reads like a fallback")
        << QStringList{"06=reg 05"} << QStringList{"05", "06"} << QStringList{"REG_05_05", "REG_05_06"};
    QTest::newRow("the header's own names")
        << QStringList{"10=I2C addr", "11=Reg value count"} << QStringList{"10", "11"}
        << QStringList{"I2C_ADDR_10", "REG_VALUE_COUNT_11"};
    QTest::newRow("appended name meets another")
        << QStringList{"01=A", "02=A", "03=A 01"} << QStringList{"01", "02", "03"}
        << QStringList{"A_01_01", "A_02", "A_01_03"};
}

void tst_header_export::assign_settlesClashes() {
    QFETCH(QStringList, hints);
    QFETCH(QStringList, regs);
    QFETCH(QStringList, names);
    QMap<int, QString> map;
    for (const QString& h : hints) map.insert(h.section('=', 0, 0).toInt(nullptr, 16), h.section('=', 1));
    QVector<NamedRegister> list;
    for (const QString& r : regs) list.append({r.toInt(nullptr, 16), 0, QString(), QString()});
    RegName_Assign(&list, map, Header_ReservedNames());
    QStringList got;
    for (const NamedRegister& r : list) got << r.name;
    QCOMPARE(got, names);
}

void tst_header_export::prefix_data() {
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<bool>("good");
    QTest::newRow("upper") << "TK2C" << true;
    QTest::newRow("lower") << "board_a" << true;
    QTest::newRow("leading digit") << "2TK" << false;
    QTest::newRow("hyphen") << "tk-2" << false;
    QTest::newRow("blank") << "tk 2" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("leading underscore") << "_TK" << false;
    QTest::newRow("non-ASCII") << "Fühler" << false;
}

void tst_header_export::prefix() {
    QFETCH(QString, prefix);
    QFETCH(bool, good);
    QCOMPARE(Header_CheckPrefix(prefix).isEmpty(), good);
}

void tst_header_export::header_compilesAndCarriesTheValues_data() {
    QTest::addColumn<QString>("compiler");
    QTest::addColumn<QStringList>("flags");
    const QStringList strict{"-Wall", "-Wextra", "-Werror", "-pedantic"};
    QTest::newRow("C99") << "cc" << (QStringList{"-std=c99"} + strict);
    QTest::newRow("C++11") << "c++" << (QStringList{"-std=c++11"} + strict);
    QTest::newRow("C++17") << "c++" << (QStringList{"-std=c++17"} + strict);
}

void tst_header_export::header_compilesAndCarriesTheValues() {
    QFETCH(QString, compiler);
    QFETCH(QStringList, flags);
    const QString exe = QStandardPaths::findExecutable(compiler);
    if (exe.isEmpty()) QSKIP("no system compiler");
    const QVector<NamedRegister> regs = AwkwardSet();
    const Built b = CompileAndRun(exe, flags, Header_CText(Info(), QStringLiteral("t"), regs), regs);
    QVERIFY2(b.ok, qPrintable(b.log));
    QStringList want{"addr B4"};
    for (const NamedRegister& r : regs) want << QStringLiteral("T_%1 %2").arg(r.name, QString::asprintf("%02X", r.reg));
    for (const NamedRegister& r : regs) want << QString::asprintf("%02X=%02X", r.reg, r.value);
    QCOMPARE(b.lines, want);
}

void tst_header_export::json_holdsTheSameContent() {
    const QVector<NamedRegister> regs = AwkwardSet();
    QJsonParseError err;
    const QJsonDocument doc = QJsonDocument::fromJson(Header_JsonText(Info(), QStringLiteral("tk"), regs), &err);
    QCOMPARE(err.error, QJsonParseError::NoError);
    const QJsonObject o = doc.object();
    QCOMPARE(o.value("i2c_address").toString(), QStringLiteral("B4"));
    QCOMPARE(o.value("firmware").toString(), QStringLiteral("v3.2"));
    QCOMPARE(o.value("date").toString(), QStringLiteral("2026-03-04T05:06:07Z"));
    const QJsonArray list = o.value("registers").toArray();
    QCOMPARE(list.size(), regs.size());
    for (int i = 0; i < regs.size(); ++i) {
        const QJsonObject r = list[i].toObject();
        QCOMPARE(r.value("reg").toString().toInt(nullptr, 16), regs[i].reg);
        QCOMPARE(r.value("value").toString().toInt(nullptr, 16), int(regs[i].value));
        QCOMPARE(r.value("name").toString(), "TK_" + regs[i].name);
        QCOMPARE(r.value("hint").toString(), regs[i].hint);
    }
}

QTEST_GUILESS_MAIN(tst_header_export)
#include "tst_header_export.moc"
