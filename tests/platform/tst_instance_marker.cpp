#include <QLockFile>
#include <QTemporaryDir>
#include <QtTest>

#include "platform/instance_marker.h"

class tst_InstanceMarker : public QObject {
    Q_OBJECT

private slots:
    void name_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("name");
        QTest::newRow("unix path") << "/opt/tk/bin/tkeval"
                                   << "tkeval";
        QTest::newRow("windows path") << "C:\\Tools\\tkeval.exe"
                                      << "tkeval.exe";
        QTest::newRow("bare name") << "tkeval"
                                   << "tkeval";
        QTest::newRow("relative") << "./tkeval"
                                  << "tkeval";
        QTest::newRow("empty") << ""
                               << "";
    }
    void name() {
        QFETCH(QString, path);
        QFETCH(QString, name);
        QCOMPARE(InstanceMarker_Name(path), name);
    }

    void differentNames_differentLocks() {
        QTemporaryDir dir;
        QVERIFY(InstanceMarker_Path("tkeval", dir.path()) != InstanceMarker_Path("tkeval-copy", dir.path()));
        QVERIFY(InstanceMarker_Take("tkeval", dir.path()));
        QVERIFY(InstanceMarker_Take("tkeval-copy", dir.path()));
        QVERIFY(QFile::exists(InstanceMarker_Path("tkeval", dir.path())));
        // Holding it already is not a second instance.
        QVERIFY(InstanceMarker_Take("tkeval", dir.path()));
    }

    void heldElsewhere_isSecondInstanceAndDoesNotWait() {
        QTemporaryDir dir;
        QLockFile other(InstanceMarker_Path("busy", dir.path()));
        QVERIFY(other.tryLock(0));
        // No timing assertion: a wait would hang this test until its timeout.
        QVERIFY(!InstanceMarker_Take("busy", dir.path()));
    }

    void emptyName_stillUsable() {
        QTemporaryDir dir;
        QVERIFY(InstanceMarker_Take("", dir.path()));
    }
};

QTEST_GUILESS_MAIN(tst_InstanceMarker)
#include "tst_instance_marker.moc"
