#include "app/config.h"

#include <QDir>
#include <QFile>
#include <cmath>

#include "app/limits.h"
#include "app/log.h"
#include "platform/ini.h"
#include "workers/ChipFamily.h"

namespace {

constexpr int kMaxTextValue = 1023;  // DEVICE and REG_FILE fit a 1024-character field

}  // namespace

int Device_Lookup(const QString& model, int fallback) {
    // A NUL inside the name would end it early and match a shorter one.
    if (model.contains(QChar(0))) return fallback;
    return ChipFamily_ForModel(model.toUtf8().constData(), fallback);
}

int Parse_Hex(const QString& text) {
    bool ok = false;
    const int v = text.toInt(&ok, 16);
    return ok ? v : 0;
}

float Parse_Margin(const QString& text) {
    bool ok = false;
    const float v = text.toFloat(&ok);
    // "nan" and "inf" parse, but no margin can be computed from them.
    return ok && std::isfinite(v) ? v : 0.0f;
}

QString Hex2(int value) { return QString::asprintf("%02X", static_cast<unsigned>(value)); }

QString Window_Title(const QString& device) { return QStringLiteral("Vantix(TM) Eval. Tool v5.10 - ") + device; }

QString Clamp_Count(const QString& workDir, const char* key, int* value, int lo, int hi) {
    const int read = *value;
    if (read >= lo && read <= hi) return QString();
    *value = read < lo ? lo : hi;
    const QByteArray detail = QByteArray(key) + " = " + QByteArray::number(read) + " is outside " +
                              QByteArray::number(lo) + ".." + QByteArray::number(hi) + ", using " +
                              QByteArray::number(*value);
    Log_Write(workDir, "CONFIG", detail.constData(), __FILE__, __LINE__, 1);
    return QStringLiteral("system.ini: %1 = %2 is outside %3..%4, using %5")
        .arg(QLatin1String(key))
        .arg(read)
        .arg(lo)
        .arg(hi)
        .arg(*value);
}

QString WorkDir_File(const QString& dir, const char* name) {
    return dir.isEmpty() ? QString::fromLatin1(name) : QDir(dir).filePath(QString::fromLatin1(name));
}

BoardConfig Config_Read(const QString& workDir, QStringList* messages) {
    BoardConfig config;
    config.workDir = workDir;
    Config_ReadSystem(&config, messages);
    Config_ReadI2C(&config);
    Config_ReadUser(&config);
    return config;
}

void Config_ReadSystem(BoardConfig* config, QStringList* messages) {
    const QString file = WorkDir_File(config->workDir, "system.ini");
    config->device = Ini_GetString(file, QStringLiteral("SYSTEM"), QStringLiteral("DEVICE"), QStringLiteral("No Info"))
                         .left(kMaxTextValue);
    int channels = Ini_GetInt(file, QStringLiteral("SYSTEM"), QStringLiteral("SIZEOFCHANNEL"), 0);
    int sbfs = Ini_GetInt(file, QStringLiteral("SYSTEM"), QStringLiteral("SIZEOFSBF"), 0);

    // Every channel and SBF loop indexes fixed 16 x 4 arrays; a larger count
    // from the file would run past them.
    for (const QString& m : {Clamp_Count(config->workDir, "SIZEOFCHANNEL", &channels, 0, kMaxChannels),
                             Clamp_Count(config->workDir, "SIZEOFSBF", &sbfs, 0, kMaxSbf)}) {
        if (!m.isEmpty() && messages) messages->append(m);
    }
    config->channels = channels;
    config->sbfs = sbfs;
    config->family = Device_Lookup(config->device, config->family);
}

void Config_ReadI2C(BoardConfig* config) {
    const QString text = Ini_GetString(WorkDir_File(config->workDir, "config.ini"), QStringLiteral("I2C"),
                                       QStringLiteral("I2C_ADDR"), QStringLiteral("B0"));
    config->i2cAddress = Parse_Hex(text);
}

void Config_ReadUser(BoardConfig* config) {
    const QString file = WorkDir_File(config->workDir, "config.ini");
    config->registerFile =
        Ini_GetString(file, QStringLiteral("PATH"), QStringLiteral("REG_FILE"), QString()).left(kMaxTextValue);
    config->margin =
        Parse_Margin(Ini_GetString(file, QStringLiteral("AutoSen"), QStringLiteral("MARGIN"), QStringLiteral("0.6")));
}

bool Config_ReadReconnect(const QString& workDir) {
    return Ini_GetInt(WorkDir_File(workDir, "config.ini"), QStringLiteral("PORT"), QStringLiteral("RECONNECT"), 0) != 0;
}

int Config_ReadHistorySeconds(const QString& workDir, int def) {
    bool ok = false;
    const int v = Ini_ParseInt(Config_ReadKey(workDir, QStringLiteral("PLOT"), QStringLiteral("HISTORY_S")), &ok);
    return ok ? v : def;
}

QString Config_ReadKey(const QString& workDir, const QString& section, const QString& key) {
    return Ini_GetString(WorkDir_File(workDir, "config.ini"), section, key, QString());
}

bool Config_WriteKey(const QString& workDir, const QString& section, const QString& key, const QString& value) {
    return Ini_WriteString(WorkDir_File(workDir, "config.ini"), section, key, value);
}

QStringList Parse_PortArgs(const QStringList& args) {
    QStringList ports;
    // The first argument is the program itself.
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--port")) {
            if (i + 1 < args.size()) {
                ports.append(args[++i]);
            } else {
                Console_Trace("--port needs a device path; ignored\n");
            }
        } else if (a.startsWith(QLatin1String("--port="))) {
            const QString path = a.mid(7);
            if (!path.isEmpty()) ports.append(path);
        }
    }
    return ports;
}
