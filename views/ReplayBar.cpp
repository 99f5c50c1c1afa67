#include "views/ReplayBar.h"

#include "data/LogPlayer.h"
#include "ui_ReplayBar.h"

namespace {
const int kSpeeds[] = {1, 4, 16, LogPlayer::kAsFastAsPossible};
}

ReplayBar::ReplayBar(LogPlayer* player, QWidget* parent) : QWidget(parent), m_Player(player) {
    ui = std::make_unique<Ui::ReplayBar>();
    ui->setupUi(this);
    // The slider counts tenths of a second: an hour fits an int many times.
    ui->horizontalSlider_Position->setRange(0, static_cast<int>(player->durationMs() / 100));
    ui->horizontalSlider_Position->setPageStep(100);
    for (int i = 0; i < 4; ++i)
        if (kSpeeds[i] == player->speed()) ui->comboBox_Speed->setCurrentIndex(i);

    connect(ui->pushButton_Play, &QPushButton::clicked, this, &ReplayBar::onPlayClicked);
    connect(ui->pushButton_Stop, &QPushButton::clicked, this, &ReplayBar::stopRequested);
    connect(ui->comboBox_Speed, &QComboBox::activated, this, &ReplayBar::onSpeedActivated);
    connect(player, &LogPlayer::positionChanged, this, &ReplayBar::Show_Position);
    connect(player, &LogPlayer::playingChanged, this,
            [this](bool playing) { ui->pushButton_Play->setText(playing ? tr("Pause") : tr("Play")); });
    connect(ui->horizontalSlider_Position, &QSlider::sliderPressed, this, [this] { m_Dragging = true; });
    connect(ui->horizontalSlider_Position, &QSlider::sliderReleased, this, [this] {
        m_Dragging = false;
        m_Player->seek(qint64(ui->horizontalSlider_Position->value()) * 100);
    });
    // Clicks on the groove and keys move the slider without a drag.
    connect(ui->horizontalSlider_Position, &QSlider::actionTriggered, this, [this](int action) {
        if (action == QAbstractSlider::SliderMove) return;
        QMetaObject::invokeMethod(
            this, [this] { m_Player->seek(qint64(ui->horizontalSlider_Position->value()) * 100); },
            Qt::QueuedConnection);
    });
    Show_Position(player->positionMs());
}

ReplayBar::~ReplayBar() = default;

QString ReplayBar::TimeText(qint64 ms) {
    const qint64 tenths = ms / 100;
    const qint64 s = tenths / 10;
    const QString rest = QStringLiteral("%1.%2").arg(s % 60, 2, 10, QLatin1Char('0')).arg(tenths % 10);
    if (s >= 3600)
        return QStringLiteral("%1:%2:%3").arg(s / 3600).arg((s / 60) % 60, 2, 10, QLatin1Char('0')).arg(rest);
    return QStringLiteral("%1:%2").arg(s / 60).arg(rest);
}

void ReplayBar::onPlayClicked() {
    if (m_Player->isPlaying())
        m_Player->pause();
    else
        m_Player->play();
}

void ReplayBar::onSpeedActivated(int index) {
    if (index >= 0 && index < 4) m_Player->setSpeed(kSpeeds[index]);
}

void ReplayBar::Show_Position(qint64 ms) {
    if (!m_Dragging) {
        const QSignalBlocker quiet(ui->horizontalSlider_Position);
        ui->horizontalSlider_Position->setValue(static_cast<int>(ms / 100));
    }
    ui->label_Time->setText(QStringLiteral("%1 / %2").arg(TimeText(ms), TimeText(m_Player->durationMs())));
}
