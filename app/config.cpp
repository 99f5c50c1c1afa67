#include "app/config.h"

#include <QDir>
#include <QFile>
#include <cmath>

#include "app/globals.h"
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

QString Clamp_Count(const char* key, int* value, int lo, int hi) {
    const int read = *value;
    if (read >= lo && read <= hi) return QString();
    *value = read < lo ? lo : hi;
    const QByteArray detail = QByteArray(key) + " = " + QByteArray::number(read) + " is outside " +
                              QByteArray::number(lo) + ".." + QByteArray::number(hi) + ", using " +
                              QByteArray::number(*value);
    Log_Write("CONFIG", detail.constData(), __FILE__, __LINE__, 1);
    return QStringLiteral("system.ini: %1 = %2 is outside %3..%4, using %5")
        .arg(QLatin1String(key))
        .arg(read)
        .arg(lo)
        .arg(hi)
        .arg(*value);
}

void WorkDir_CaptureA() { g_WorkDirA = QFile::encodeName(QDir::currentPath()); }

void WorkDir_Capture() { g_WorkDir = QDir::currentPath(); }

QString WorkDir_TextFile(const char* name) {
    const QString dir = QFile::decodeName(g_WorkDirA);
    return dir.isEmpty() ? QString::fromLatin1(name) : QDir(dir).filePath(QString::fromLatin1(name));
}

QString WorkDir_IniFile(const char* name) {
    return g_WorkDir.isEmpty() ? QString::fromLatin1(name) : QDir(g_WorkDir).filePath(QString::fromLatin1(name));
}

QString Config_ReadSystem(QStringList* messages) {
    const QString file = WorkDir_IniFile("system.ini");
    const QString device =
        Ini_GetString(file, QStringLiteral("SYSTEM"), QStringLiteral("DEVICE"), QStringLiteral("No Info"))
            .left(kMaxTextValue);
    int channels = Ini_GetInt(file, QStringLiteral("SYSTEM"), QStringLiteral("SIZEOFCHANNEL"), 0);
    int sbfs = Ini_GetInt(file, QStringLiteral("SYSTEM"), QStringLiteral("SIZEOFSBF"), 0);

    // Every channel and SBF loop indexes fixed 16 x 4 arrays; a larger count
    // from the file would run past them.
    for (const QString& m :
         {Clamp_Count("SIZEOFCHANNEL", &channels, 0, kMaxChannels), Clamp_Count("SIZEOFSBF", &sbfs, 0, kMaxSbf)}) {
        if (!m.isEmpty() && messages) messages->append(m);
    }
    g_SizeOfChannel.store(channels);
    g_SizeOfSBF.store(sbfs);
    g_DeviceType.store(Device_Lookup(device, g_DeviceType.load()));
    return device;
}

void Config_ReadI2C() {
    const QString text = Ini_GetString(WorkDir_IniFile("config.ini"), QStringLiteral("I2C"), QStringLiteral("I2C_ADDR"),
                                       QStringLiteral("B0"));
    g_I2C_Addr.store(Parse_Hex(text));
}

void Config_ReadUser() {
    const QString file = WorkDir_IniFile("config.ini");
    g_RegFilePath =
        Ini_GetString(file, QStringLiteral("PATH"), QStringLiteral("REG_FILE"), QString()).left(kMaxTextValue);
    g_AutoSen_Margin.store(
        Parse_Margin(Ini_GetString(file, QStringLiteral("AutoSen"), QStringLiteral("MARGIN"), QStringLiteral("0.6"))));
}

bool Config_ReadReconnect() {
    return Ini_GetInt(WorkDir_IniFile("config.ini"), QStringLiteral("PORT"), QStringLiteral("RECONNECT"), 0) != 0;
}

int Config_ReadHistorySeconds(int def) {
    bool ok = false;
    const int v = Ini_ParseInt(Config_ReadKey(QStringLiteral("PLOT"), QStringLiteral("HISTORY_S")), &ok);
    return ok ? v : def;
}

QString Config_ReadKey(const QString& section, const QString& key) {
    return Ini_GetString(WorkDir_IniFile("config.ini"), section, key, QString());
}

bool Config_WriteKey(const QString& section, const QString& key, const QString& value) {
    return Ini_WriteString(WorkDir_IniFile("config.ini"), section, key, value);
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
