// One channel's indicator in the key row of the main window: title, touch
// lamp, three live numbers and the button that starts the automatic
// sensitivity procedure. The main window writes the form members directly.
#pragma once

#include <QPointer>
#include <QWidget>

#include "ui_ChannelIndicator.h"

class SensitivityDialog;

class ChannelIndicator : public QWidget, public Ui::ChannelIndicator {
    Q_OBJECT

public:
    ChannelIndicator(QWidget* parent, int channel);
    ~ChannelIndicator() override;

    int channel() const { return m_Channel; }

    // Lamp images of the family in g_DeviceType; the main window swaps them
    // on every touch mask.
    static QString IdleImagePath();
    static QString TouchedImagePath();

private slots:
    void onSensitivityClicked();

private:
    int m_Channel;
    // Opened by the most recent click; the dialog deletes itself once closed,
    // which clears this pointer.
    QPointer<SensitivityDialog> m_pDialogAutoSen;
};
