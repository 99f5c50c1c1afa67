// One channel's indicator in the key row of the main window: title, touch
// lamp, three live numbers and the button that asks for the automatic
// sensitivity procedure. The main window writes the form members directly.
#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class ChannelIndicator;
}

class ChannelIndicator : public QWidget {
    Q_OBJECT

public:
    // The generated form; its widgets keep the object names scripts and tests use.
    std::unique_ptr<Ui::ChannelIndicator> ui;

    // A lamp of the given chip family, idle.
    ChannelIndicator(QWidget* parent, int channel, int family);
    ~ChannelIndicator() override;

    int channel() const { return m_Channel; }

    // Lamp images of a chip family; the main window swaps them on every
    // touch mask.
    static QString IdleImagePath(int family);
    static QString TouchedImagePath(int family);

signals:
    // SEN was pressed: whoever owns the board opens the sensitivity run.
    void sensitivityRequested(int channel);

private:
    int m_Channel;
};
