#include "views/RegisterCell.h"

#include <QKeyEvent>

#include "app/config.h"
#include "app/limits.h"
#include "data/RegisterImage.h"
#include "link/ExchangeQueue.h"
#include "ui_RegisterCell.h"
#include "workers/BoardOps.h"
#include "workers/BoardSession.h"

RegisterCell::RegisterCell(QWidget* parent, int address, BoardSession* session)
    : QWidget(parent, Qt::WindowFlags()),
      m_Address(static_cast<uint8_t>(address & 0xFF)),
      m_Session(session),
      m_Image(&session->image()) {
    ui = std::make_unique<Ui::RegisterCell>();
    ui->setupUi(this);
    ui->lineEdit_data->installEventFilter(this);
    ui->label_Addr->setText(QString::asprintf("%02XH", m_Address));
}

RegisterCell::~RegisterCell() = default;

void RegisterCell::showImage() { ui->lineEdit_data->setText(Hex2(m_Image->value(m_Address))); }

void RegisterCell::setComparison(uint8_t fileValue) {
    if (m_Comparison < 0) m_PlainPalette = ui->lineEdit_data->palette();
    m_Comparison = fileValue;
    // The palette, not a style sheet: the form's colours stay as they are
    // everywhere else.
    QPalette p = ui->lineEdit_data->palette();
    p.setColor(QPalette::Base, QColor(0xFF, 0xC8, 0x6E));
    ui->lineEdit_data->setPalette(p);
    ui->lineEdit_data->setToolTip(tr("The compared file holds %1").arg(Hex2(fileValue)));
}

void RegisterCell::clearComparison() {
    if (m_Comparison < 0) return;
    m_Comparison = -1;
    ui->lineEdit_data->setPalette(m_PlainPalette);
    ui->lineEdit_data->setToolTip(QString());
}

bool RegisterCell::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui->lineEdit_data && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) WriteAndReadBack();
    }
    // Never swallow the key: the line edit still gets Return like any other.
    return QWidget::eventFilter(watched, event);
}

void RegisterCell::WriteAndReadBack() {
    RegisterImage* image = m_Image;  // the session's, which outlives its queue
    const uint8_t address = m_Address;
    const uint8_t dev = m_Session->chipAddress();
    // An empty field converts to 0 and one typed digit to its own value; the
    // chip gets exactly what the field shows.
    const uint8_t value = static_cast<uint8_t>(ui->lineEdit_data->text().toUInt(nullptr, 16) & 0xFF);
    // Results are not examined: whatever happened, the field ends up showing
    // what the register image holds for this address. A second Return before
    // the board has answered queues a second write behind the first.
    m_Session->exchanges().post(
        this,
        [image, dev, address, value](BoardLink& link) {
            Register_Write(link, *image, dev, address, value);
            Register_Read(link, *image, dev, address, 1);
        },
        [this] { showImage(); });
}
