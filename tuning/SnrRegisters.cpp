#include "tuning/SnrRegisters.h"

#include <QStringList>

#include "app/limits.h"
#include "data/RegisterImage.h"
#include "link/commands.h"
#include "workers/ChipFamily.h"

namespace {

QString ResultText(ExchangeResult result) {
    switch (result.cause()) {
        case ExchangeCause::NoPort:
            return QStringLiteral("no port is open");
        case ExchangeCause::NoReply:
            return QStringLiteral("the board did not answer");
        case ExchangeCause::Done:
        case ExchangeCause::BoardStatus:
            break;
    }
    return QStringLiteral("the board answered with status %1").arg(QLatin1Char(result.letter()));
}

QString RegName(int channel, uint8_t reg) {
    return QStringLiteral("SIN %1 (register 0x%2)").arg(channel + 1).arg(QString::asprintf("%02X", reg));
}

// The register's value after a read, or -1 with the reason in *why.
int ReadReg(BoardLink& link, RegisterImage& image, uint8_t dev, uint8_t reg, QString* why) {
    const ExchangeResult result = Register_Read(link, image, dev, reg, 1);
    if (!result.ok()) {
        *why = ResultText(result);
        return -1;
    }
    return image.value(reg);
}

bool WriteReg(BoardLink& link, RegisterImage& image, uint8_t dev, uint8_t reg, uint8_t value, QString* why,
              const RegisterWrite& write) {
    const ExchangeResult result = write ? write(reg, value) : Register_Write(link, image, dev, reg, value);
    if (!result.ok()) *why = ResultText(result);
    return result.ok();
}

struct Changed {
    int channel;
    uint8_t reg;
    uint8_t old;
};

}  // namespace

int Snr_ReadSensitivity(BoardLink& link, RegisterImage& image, uint8_t dev, int family, int channel) {
    QString why;
    return ReadReg(link, image, dev, ChipFamily_SensitivityRegister(family, channel), &why);
}

SnrApplyOutcome Snr_ApplyRecommended(BoardLink& link, RegisterImage& image, uint8_t dev,
                                     const QVector<SnrResult>& results, int family, const RegisterWrite& write) {
    SnrApplyOutcome out;
    QVector<Changed> changed;
    QStringList written;
    QString failure;
    for (const SnrResult& r : results) {
        const uint8_t reg = ChipFamily_SensitivityRegister(family, r.channel);
        const auto value = static_cast<uint8_t>(r.recommended);
        QString why;
        const int old = ReadReg(link, image, dev, reg, &why);
        if (old < 0) {
            failure = QStringLiteral("Reading %1 failed: %2.").arg(RegName(r.channel, reg), why);
            break;
        }
        out.registers.append(reg);
        // A write that failed may still have reached the chip.
        changed.append({r.channel, reg, static_cast<uint8_t>(old)});
        if (!WriteReg(link, image, dev, reg, value, &why, write)) {
            failure = QStringLiteral("Writing %1 failed: %2.").arg(RegName(r.channel, reg), why);
            break;
        }
        const int back = ReadReg(link, image, dev, reg, &why);
        if (back < 0) {
            failure = QStringLiteral("Reading back %1 failed: %2.").arg(RegName(r.channel, reg), why);
            break;
        }
        if (back != value) {
            failure =
                QStringLiteral("%1 reads back %2 after writing %3.").arg(RegName(r.channel, reg)).arg(back).arg(value);
            break;
        }
        written.append(QStringLiteral("SIN %1 = %2").arg(r.channel + 1).arg(value));
    }

    if (failure.isEmpty()) {
        out.ok = true;
        out.message = written.isEmpty()
                          ? QStringLiteral("Nothing to write.")
                          : QStringLiteral("Written and read back: %1.").arg(written.join(QStringLiteral(", ")));
        return out;
    }

    QStringList restored;
    QStringList lost;
    for (int i = changed.size() - 1; i >= 0; --i) {
        const Changed& c = changed[i];
        QString why;
        const bool ok =
            WriteReg(link, image, dev, c.reg, c.old, &why, write) && ReadReg(link, image, dev, c.reg, &why) == c.old;
        const QString name = QStringLiteral("%1 = %2").arg(RegName(c.channel, c.reg)).arg(c.old);
        if (ok)
            restored.prepend(name);
        else
            lost.prepend(name + QStringLiteral(" (%1)").arg(why.isEmpty() ? QStringLiteral("read back differs") : why));
    }
    out.message = failure;
    if (!restored.isEmpty()) out.message += QStringLiteral(" Restored: %1.").arg(restored.join(QStringLiteral(", ")));
    if (!lost.isEmpty()) out.message += QStringLiteral(" Could not restore: %1.").arg(lost.join(QStringLiteral(", ")));
    return out;
}
