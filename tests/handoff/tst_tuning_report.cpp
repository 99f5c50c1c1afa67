// The tuning report from a known log, SNR report and register set: well-formed
// markup, nothing fetched from outside, and the right rows and charts.
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

#include "handoff/KeyTraceBuilder.h"
#include "handoff/RegisterSet.h"
#include "handoff/SnrReportReader.h"
#include "handoff/TuningReport.h"

namespace {

const char kSnr[] =
    "# tkeval snr 1\n"
    "# date=2026-03-04T05:10:00.000+01:00 device=\"TK 2C\" firmware=v3.2 i2c=0xB0 margin=0.6\n"
    "channel,sbf,samples_untouched,samples_touched,mean_untouched,noise_pp,noise_rms,signal,snr,min_snr,pass,"
    "sensitivity_now,check_now,sensitivity_recommended,check_recommended\n"
    "1,2,50,50,0.5,4,1.2,60,15,5,yes,32,safe,36,safe\n"
    "2,2,50,50,0.2,7,2.1,0,0,5,no,,,0,noise\n";

// Two channels, two SBFs; SIN 1 touched from 1000 to 2000 ms; its
// sensitivity register (family 4: 0x20) written at 1500 ms.
QByteArray Log() {
    QByteArray t =
        "# tkeval log 1\n"
        "# started=2026-03-04T05:06:07.000+01:00 device=TK2C family=4 channels=2 sbf=2 i2c=B0 "
        "firmware=v3.2 port=/dev/x\n"
        "time,t_ms,kind,channel,sbf,ref,sense,diff,offset,touch,note\n";
    for (int i = 0; i < 30; ++i) {
        const int ms = i * 100;
        if (ms == 1000) t += "2026-03-04T05:06:08.000,1000,touch,,,,,,,0001,\n";
        if (ms == 1500) t += "2026-03-04T05:06:08.500,1500,write,,,,,,,,20=30\n";
        if (ms == 2000) t += "2026-03-04T05:06:09.000,2000,touch,,,,,,,0000,\n";
        for (int ch = 1; ch <= 2; ++ch) {
            const bool touched = ch == 1 && ms >= 1000 && ms < 2000;
            for (int sbf = 1; sbf <= 2; ++sbf) {
                // SBF 2 is the one drawn (the SNR test's); SBF 1 carries a
                // different value so a mix-up shows.
                const int diff = sbf == 1 ? 1000 : (touched ? 60 : (i % 3) - 1);
                t += QStringLiteral("2026-03-04T05:06:07.%1,%2,sample,%3,%4,2000,%5,%6,0,,\n")
                         .arg(ms % 1000, 3, 10, QChar('0'))
                         .arg(ms)
                         .arg(ch)
                         .arg(sbf)
                         .arg(2000 + diff)
                         .arg(diff)
                         .toLatin1();
            }
        }
    }
    return t;
}

// Elements by name with their attributes and text, from well-formed markup.
struct Element {
    QString name;
    QXmlStreamAttributes attrs;
    QString text;
};

}  // namespace

class tst_tuning_report : public QObject {
    Q_OBJECT

private slots:
    void init() { QVERIFY(m_dir.isValid()); }
    void report_isWellFormedSelfContainedAndRight();
    void badInput_isRefusedWithFileAndLine_data();
    void badInput_isRefusedWithFileAndLine();

private:
    QString write(const QString& name, const QByteArray& text) {
        QFile f(m_dir.filePath(name));
        if (!f.open(QIODevice::WriteOnly)) return QString();
        f.write(text);
        return f.fileName();
    }
    QTemporaryDir m_dir;
};

void tst_tuning_report::report_isWellFormedSelfContainedAndRight() {
    TuningReport r;
    r.info.toolVersion = "9.9";
    r.info.date = QDateTime::currentDateTimeUtc();
    r.info.device = "TK2C";
    r.info.family = 4;
    r.info.note = "Board <7> & \"rev B\"";
    QString error;
    QVERIFY(SnrReport_Read(write("snr.csv", kSnr), &r.snr, &error));
    r.haveSnr = true;
    RegisterSet set;
    QVERIFY(RegisterSet_Read(write("t.sf", "w0012\nw2028\nw2120\n"), &set, &error));
    for (auto it = set.cbegin(); it != set.cend(); ++it)
        r.registers.append({it.key(), it.value(), QString(), QString()});
    RegName_Assign(&r.registers, {{0x00, "Chip ID"}, {0x20, "SIN 1 sens"}, {0x21, "<b>\x01&"}});

    KeyTraceBuilder b(4, TuningReport_SbfOf(r, 2), TuningReport_Thresholds(r, 4));
    QStringList notes;
    QVERIFY2(b.readLog(write("log.csv", Log()), &error, &notes), qPrintable(error));
    r.traces = b.finish();
    r.fromMs = b.firstMs();
    r.toMs = b.lastMs();
    r.traceSource = "log log.csv";
    const QByteArray html = TuningReport_Html(r);

    for (const char* outside : {"http", "src=\"/", "file:", "<img", "<link", "<script", "@import", "url("})
        QVERIFY2(!html.contains(outside), outside);

    QXmlStreamReader xml(html);
    QVector<Element> elems;
    QVector<int> open;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            open.append(elems.size());
            elems.append({xml.name().toString(), xml.attributes(), QString()});
        } else if (xml.isEndElement()) {
            open.removeLast();
        } else if (xml.isCharacters()) {
            for (int i : open) elems[i].text += xml.text();
        }
    }
    QVERIFY2(!xml.hasError(), qPrintable(QStringLiteral("line %1: %2").arg(xml.lineNumber()).arg(xml.errorString())));

    auto withAttr = [&](const QString& name, const QString& attr) {
        QVector<Element> out;
        for (const Element& e : elems)
            if (e.name == name && e.attrs.hasAttribute(attr)) out.append(e);
        return out;
    };
    // The engineer's note, as text.
    bool noteFound = false;
    for (const Element& e : elems) noteFound |= e.name == "td" && e.text == r.info.note;
    QVERIFY(noteFound);

    // Register rows: each register of the file once, with its hint.
    const QVector<Element> regRows = withAttr("tr", "data-reg");
    QCOMPARE(regRows.size(), 3);
    QVERIFY(regRows[0].text.contains("Chip ID") && regRows[0].text.contains("12"));
    QVERIFY(regRows[1].text.contains("SIN 1 sens") && regRows[1].text.contains("28"));

    // SNR rows: SIN 2 fails and is marked, SIN 1 passes.
    QVector<Element> snrRows;
    for (const Element& e : withAttr("tr", "data-key")) snrRows.append(e);
    QCOMPARE(snrRows.size(), 2);
    QCOMPARE(snrRows[0].attrs.value("class").toString(), QString());
    QVERIFY(snrRows[0].text.contains("pass"));
    QCOMPARE(snrRows[1].attrs.value("class").toString(), QStringLiteral("fail"));
    QVERIFY(snrRows[1].text.contains("FAIL"));

    // One block per key of the log, in the SBF of its SNR result.
    const QVector<Element> keys = withAttr("div", "data-key");
    QCOMPARE(keys.size(), 2);
    QVERIFY2(keys[0].text.contains("SIN 1 (SBF 2)"), qPrintable(keys[0].text));
    // 30 samples; the 10 of the touch are not untouched ones.
    QVERIFY2(keys[0].text.contains("30 samples, 1 touch; untouched: 20 samples"), qPrintable(keys[0].text));
    QVERIFY2(keys[1].text.contains("30 samples, 0 touches; untouched: 20 samples"), qPrintable(keys[1].text));
    // SIN 1: threshold 0x28 from the register set, then 0x30 written at 1.5 s.
    QVERIFY(keys[0].text.contains("threshold 48"));
    QVERIFY(keys[1].text.contains("threshold 32"));

    // The charts: SIN 1's shaded touch, its two-step threshold, and a
    // histogram whose bars count every untouched sample.
    int svgs = 0;
    int touchRects = 0;
    int thresholdLines = 0;
    int barTotal = 0;
    bool inHist = false;
    for (const Element& e : elems) {
        if (e.name == "svg") {
            ++svgs;
            inHist = e.attrs.value("class") == QLatin1String("histogram");
        }
        if (e.name == "rect" && e.attrs.value("class") == QLatin1String("touch")) ++touchRects;
        if (e.name == "polyline" && e.attrs.value("class") == QLatin1String("threshold")) {
            ++thresholdLines;
            if (thresholdLines == 1) QCOMPARE(e.attrs.value("points").toString().split(' ').size(), 4);
        }
        if (inHist && e.name == "title") barTotal += e.text.toInt();
    }
    QCOMPARE(svgs, 4);
    QCOMPARE(touchRects, 1);
    QCOMPARE(thresholdLines, 2);
    QCOMPARE(barTotal, 40);
}

void tst_tuning_report::badInput_isRefusedWithFileAndLine_data() {
    QTest::addColumn<bool>("snr");  // else a log
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("where");
    QByteArray snr(kSnr);
    QTest::newRow("snr: not one") << true << QByteArray("channel,sbf\n") << "line 1:";
    QTest::newRow("snr: bad date") << true << QByteArray(kSnr).replace("2026-03-04T05:10", "yesterday") << "line 2:";
    QTest::newRow("snr: pass word") << true << QByteArray(kSnr).replace(",yes,", ",maybe,") << "line 4: pass";
    QTest::newRow("snr: short row") << true << snr + "3,2,50\n"
                                    << "line 6: 3 fields";
    QTest::newRow("snr: register out of range") << true << QByteArray(kSnr).replace(",36,", ",360,") << "line 4:";
    QTest::newRow("log: not one") << false << QByteArray("hello\n") << "line 1";
    QByteArray log = Log();
    // After the three head lines and the first sample row.
    int at = 0;
    for (int i = 0; i < 4; ++i) at = log.indexOf('\n', at) + 1;
    log.insert(at, "2026-03-04T05:06:07.000,0,bogus,,,,,,,,\n");
    QTest::newRow("log: bad row") << false << log << "line 5:";
}

void tst_tuning_report::badInput_isRefusedWithFileAndLine() {
    QFETCH(bool, snr);
    QFETCH(QByteArray, text);
    QFETCH(QString, where);
    const QString path = write(snr ? "snr.csv" : "log.csv", text);
    QString error;
    if (snr) {
        SnrReportFile f;
        QVERIFY(!SnrReport_Read(path, &f, &error));
    } else {
        KeyTraceBuilder b(4, {}, {});
        QStringList notes;
        QVERIFY(!b.readLog(path, &error, &notes));
    }
    QVERIFY2(error.startsWith(path) && error.contains(where), qPrintable(error));
}

QTEST_GUILESS_MAIN(tst_tuning_report)
#include "tst_tuning_report.moc"
