// Reading system.ini and config.ini into the process-wide configuration, the
// device table, and the files of the working directory.
#pragma once

#include <QString>
#include <QStringList>

// Serial ports named on the command line with --port PATH, in order. Set once
// at start-up before any worker thread exists; read on the GUI thread.

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
// and leaves a record of it in Log.txt; otherwise an empty string.
QString Clamp_Count(const char* key, int* value, int lo, int hi);

// --- working directory ------------------------------------------------------------
// Captures the current directory into g_WorkDirA (8-bit) and g_WorkDir.
void WorkDir_CaptureA();
void WorkDir_Capture();
// A plain-text file (Log.txt, hint.txt, DEBUG.txt) in g_WorkDirA.
QString WorkDir_TextFile(const char* name);
// An INI file in g_WorkDir.
QString WorkDir_IniFile(const char* name);

// --- reading and writing ------------------------------------------------------------
// system.ini: DEVICE, SIZEOFCHANNEL, SIZEOFSBF into g_DeviceType,
// g_SizeOfChannel and g_SizeOfSBF. Returns the DEVICE text as read; messages
// about clamped counts are appended to messages.
QString Config_ReadSystem(QStringList* messages);
// config.ini [I2C] I2C_ADDR into g_I2C_Addr.
void Config_ReadI2C();
// config.ini [PATH] REG_FILE into g_RegFilePath and [AutoSen] MARGIN into
// g_AutoSen_Margin.
void Config_ReadUser();
// config.ini [PORT] RECONNECT: reconnect automatically to a board that was
// lost (default off).
bool Config_ReadReconnect();
// config.ini [PLOT] HISTORY_S: seconds of samples the graphs keep; def when
// the key is missing or holds no number.
int Config_ReadHistorySeconds(int def);
// The text of a key of config.ini in g_WorkDir; empty when missing.
QString Config_ReadKey(const QString& section, const QString& key);
// Writes one key of config.ini in g_WorkDir; false when it could not.
bool Config_WriteKey(const QString& section, const QString& key, const QString& value);

// --- command line ----------------------------------------------------------------------
// The paths given with "--port PATH" or "--port=PATH"; other arguments are
// ignored.
QStringList Parse_PortArgs(const QStringList& args);
