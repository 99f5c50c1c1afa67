// The tool's copy of the chip's 256 registers: for each one, what was last
// read from the chip. Any thread reads it and stores into it; the signals are
// emitted on the storing thread, so a receiver living on the GUI thread gets
// them queued.
#pragma once

#include <QObject>
#include <atomic>
#include <cstdint>

class RegisterImage : public QObject {
    Q_OBJECT

public:
    static constexpr int kSize = 256;

    explicit RegisterImage(QObject* parent = nullptr);

    uint8_t value(int reg) const { return m_Bytes[reg & 0xFF].load(std::memory_order_relaxed); }
    // len bytes from reg on (the address wraps after 0xFF) into dest.
    void copy(int reg, uint8_t* dest, int len) const;

    // Stores what the chip reported for len registers from reg on (wrapping);
    // valueChanged for each register whose byte differs from the one held.
    void store(int reg, const uint8_t* bytes, int len);
    void store(int reg, uint8_t value) { store(reg, &value, 1); }

    // The board acknowledged the tool's write of value to reg. The image keeps
    // what was read: a register may not hold what was written to it (a
    // self-clearing bit, a read-only field), and only a read says what it holds.
    void noteWritten(int reg, uint8_t value) { emit written(reg, value); }

    // Every register back to 0, without signals: a fresh image.
    void clear();

signals:
    void valueChanged(int reg);
    void written(int reg, int value);

private:
    std::atomic<uint8_t> m_Bytes[kSize]{};
};
