// One register of the chip in the register tab: an address caption and a
// two-digit hexadecimal field. Return or Enter in the field writes the value
// to the chip and shows what the chip holds afterwards; all other updates come
// from outside through the form members.
#pragma once

#include <QPalette>
#include <QWidget>
#include <cstdint>
#include <memory>

namespace Ui {
class RegisterCell;
}
class BoardSession;
class RegisterImage;

class RegisterCell : public QWidget {
    Q_OBJECT

public:
    // The generated form; its widgets keep the object names scripts and tests use.
    std::unique_ptr<Ui::RegisterCell> ui;

    // The session's image holds the chip's registers, written and read over
    // its link at its chip address; the session must outlive the cell.
    RegisterCell(QWidget* parent, int address, BoardSession* session);
    ~RegisterCell() override;

    uint8_t address() const { return m_Address; }
    // Shows what the register image holds for this cell's address.
    void showImage();

    // Marks the field as differing from a compared register file: a coloured
    // background, and the file's value in the tool tip. Cleared by the owner
    // when the comparison goes stale.
    void setComparison(uint8_t fileValue);
    void clearComparison();
    // The file's value while marked, -1 otherwise.
    int comparison() const { return m_Comparison; }

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void WriteAndReadBack();

    uint8_t m_Address;
    BoardSession* m_Session;
    RegisterImage* m_Image;  // the session's
    int m_Comparison = -1;
    QPalette m_PlainPalette;  // the field's own, while marked
};
