// Replays every committed fuzz corpus through its fuzz body, so that the
// ordinary build and the sanitizer builds run the inputs the fuzzers found
// interesting (and every crash once found) without needing clang.
#include <QDir>
#include <QFile>
#include <QtTest>

#include "fuzz/fuzz_bodies.h"

namespace {

using Body = int (*)(const uint8_t*, size_t);

struct Target {
    const char* name;
    Body body;
};

const Target kTargets[] = {
    {"reply_collector", fuzz::ReplyCollector},
    {"event_frames", fuzz::EventFrames},
    {"regfile", fuzz::RegFile},
    {"hint", fuzz::HintFile},
    {"ini", fuzz::Ini},
    {"sim_board", fuzz::SimBoardFrames},
    {"log", fuzz::Log},
};

Body BodyOf(const QByteArray& name) {
    for (const Target& t : kTargets)
        if (name == t.name) return t.body;
    return nullptr;
}

QString CorpusDir(const char* name) {
    return QStringLiteral(TKEVAL_SOURCE_DIR "/tests/fuzz/corpus/") + QString::fromLatin1(name);
}

int Run(Body body, const QByteArray& input) {
    return body(reinterpret_cast<const uint8_t*>(input.constData()), static_cast<size_t>(input.size()));
}

}  // namespace

class tst_fuzz_corpus : public QObject {
    Q_OBJECT
private slots:
    void corpus_data() {
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<QString>("file");
        for (const Target& t : kTargets) {
            const QDir dir(CorpusDir(t.name));
            const QStringList files = dir.entryList(QDir::Files, QDir::Name);
            for (const QString& f : files)
                QTest::newRow(qPrintable(QStringLiteral("%1/%2").arg(QLatin1String(t.name), f)))
                    << QByteArray(t.name) << dir.filePath(f);
        }
    }

    void corpus() {
        QFETCH(QByteArray, target);
        QFETCH(QString, file);
        QFile f(file);
        QVERIFY2(f.open(QIODevice::ReadOnly), qPrintable(file));
        QCOMPARE(Run(BodyOf(target), f.readAll()), 0);
    }

    void everyTargetHasSeeds() {
        for (const Target& t : kTargets) QVERIFY2(!QDir(CorpusDir(t.name)).entryList(QDir::Files).isEmpty(), t.name);
    }

    // Inputs no fuzzer is needed for: nothing at all, one byte of each value,
    // and streams far longer than any buffer on the way.
    void degenerateInputs() {
        for (const Target& t : kTargets) {
            QCOMPARE(Run(t.body, QByteArray()), 0);
            for (int b = 0; b < 256; b += 17) QCOMPARE(Run(t.body, QByteArray(1, static_cast<char>(b))), 0);
            QCOMPARE(Run(t.body, QByteArray(5000, '\x02')), 0);
            QCOMPARE(Run(t.body, QByteArray(5000, '[')), 0);
        }
    }
};

QTEST_GUILESS_MAIN(tst_fuzz_corpus)
#include "tst_fuzz_corpus.moc"
