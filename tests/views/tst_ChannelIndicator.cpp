#include <QImage>
#include <QLabel>
#include <QtTest>

#include "app/limits.h"
#include "ui_ChannelIndicator.h"
#include "ui_SbfColumn.h"
#include "views/ChannelIndicator.h"

class tst_ChannelIndicator : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Q_INIT_RESOURCE(resources); }

    void construction_titleCarriesChannelNumber_data();
    void construction_titleCarriesChannelNumber();
    void construction_lampIsIdleImageOfFamily_data();
    void construction_lampIsIdleImageOfFamily();
};

void tst_ChannelIndicator::construction_titleCarriesChannelNumber_data() {
    QTest::addColumn<int>("channel");
    QTest::addColumn<QString>("title");
    QTest::newRow("first") << 0 << "SIN1";
    QTest::newRow("last of 16") << 15 << "SIN16";
}

void tst_ChannelIndicator::construction_titleCarriesChannelNumber() {
    QFETCH(int, channel);
    QFETCH(QString, title);
    ChannelIndicator sin(nullptr, channel, 0);
    QCOMPARE(sin.ui->label_SIN_TITLE->text(), title);
    QCOMPARE(sin.channel(), channel);
}

void tst_ChannelIndicator::construction_lampIsIdleImageOfFamily_data() {
    QTest::addColumn<int>("family");
    QTest::addColumn<QString>("idle");
    QTest::addColumn<QString>("touched");
    QTest::addColumn<int>("size");
    const QString m = QStringLiteral(":/NV_EV_Kit/Resources/grey_circle_m.png");
    const QString l = QStringLiteral(":/NV_EV_Kit/Resources/grey_circle_l.png");
    const QString gm = QStringLiteral(":/NV_EV_Kit/Resources/green_circle_m.png");
    const QString gl = QStringLiteral(":/NV_EV_Kit/Resources/green_circle_l.png");
    QTest::newRow("family 0") << 0 << l << gl << 48;
    QTest::newRow("family 1") << 1 << m << gm << 36;
    QTest::newRow("family 2") << 2 << l << gl << 48;
    QTest::newRow("family 3") << 3 << l << gl << 48;
    QTest::newRow("family 4") << 4 << m << gm << 36;
}

void tst_ChannelIndicator::construction_lampIsIdleImageOfFamily() {
    QFETCH(int, family);
    QFETCH(QString, idle);
    QFETCH(QString, touched);
    QFETCH(int, size);
    QCOMPARE(ChannelIndicator::IdleImagePath(family), idle);
    QCOMPARE(ChannelIndicator::TouchedImagePath(family), touched);

    ChannelIndicator sin(nullptr, 0, family);
    // Both sides go through QPixmap so that they share its pixel format.
    const QImage expected = QPixmap(idle).toImage();
    QVERIFY2(!expected.isNull(), "lamp image missing from the resources");
    const QImage shown = sin.ui->label_SIN_ICON->pixmap().toImage();
    QCOMPARE(shown.size(), QSize(size, size));
    QCOMPARE(shown, expected);
    QVERIFY(shown != QPixmap(touched).toImage());
}

QTEST_MAIN(tst_ChannelIndicator)
#include "tst_ChannelIndicator.moc"
