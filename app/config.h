// Reading system.ini and config.ini of a working directory into a board's
// configuration, the device table, and the files of the working directory.
#pragma once

#include <QString>
#include <QStringList>

// One board's configuration: what system.ini and config.ini of its working
// directory say, and the directory itself. A value; the board session keeps
// the one in use.
struct BoardConfig {
    QString workDir;        // absolute; system.ini, config.ini, hint.txt, Log.txt
    QString device;         // DEVICE as read ("No Info" when missing)
    int family = 0;         // chip family 0..4
    int channels = 0;       // touch channels, 0..16 after clamping
    int sbfs = 0;           // sensing blocks, 0..4 after clamping
    int i2cAddress = 0xB0;  // 8-bit chip address; its low byte goes on the wire
    float margin = 0.0f;    // [AutoSen] MARGIN
    QString registerFile;   // [PATH] REG_FILE: where the register-file dialogs start
};

// --- pure helpers ---------------------------------------------------------------
// Family type of a model name from the device table (exact, case-sensitive
// match); fallback when the name is not in the table.
int Device_Lookup(const QString& model, int fallback);
// Base-16 text to an integer; 0 when the text does not parse.
int Parse_Hex(const QString& text);
// Decimal text to a float; 0.0 when the text does not parse or is not finite.
float Parse_Margin(const QString& text);
// "%02X" of a value: at least two upper-case hexadecimal digits.
QString Hex2(int value);
// The main window title for a DEVICE text as read.
QString Window_Title(const QString& device);

// Clamps a count read from system.ini into lo..hi. When it had to, returns a
// message for the user naming the key, the value read and the value used,
// and leaves a record of it in Log.txt of workDir; otherwise an empty string.
QString Clamp_Count(const QString& workDir, const char* key, int* value, int lo, int hi);

// --- working directory ------------------------------------------------------------
// A file (system.ini, config.ini, Log.txt, hint.txt, DEBUG.txt) of the working
// directory dir; the bare name, relative to the current directory, when dir
// is empty.
QString WorkDir_File(const QString& dir, const char* name);

// --- reading and writing ------------------------------------------------------------
// All of a working directory's configuration: system.ini, then config.ini.
// Messages about clamped counts are appended to messages.
BoardConfig Config_Read(const QString& workDir, QStringList* messages);
// system.ini of config->workDir: DEVICE, SIZEOFCHANNEL, SIZEOFSBF into
// config->device, family, channels and sbfs. A model name the device table
// does not know keeps the family config holds. Messages about clamped counts
// are appended to messages.
void Config_ReadSystem(BoardConfig* config, QStringList* messages);
// config.ini [I2C] I2C_ADDR into config->i2cAddress.
void Config_ReadI2C(BoardConfig* config);
// config.ini [PATH] REG_FILE into config->registerFile and [AutoSen] MARGIN
// into config->margin.
void Config_ReadUser(BoardConfig* config);
// config.ini [PORT] RECONNECT: reconnect automatically to a board that was
// lost (default off).
bool Config_ReadReconnect(const QString& workDir);
// config.ini [PLOT] HISTORY_S: seconds of samples the graphs keep; def when
// the key is missing or holds no number.
int Config_ReadHistorySeconds(const QString& workDir, int def);
// The text of a key of config.ini in workDir; empty when missing.
QString Config_ReadKey(const QString& workDir, const QString& section, const QString& key);
// Writes one key of config.ini in workDir; false when it could not.
bool Config_WriteKey(const QString& workDir, const QString& section, const QString& key, const QString& value);

// --- command line ----------------------------------------------------------------------
// The paths given with "--port PATH" or "--port=PATH"; other arguments are
// ignored.
QStringList Parse_PortArgs(const QStringList& args);
