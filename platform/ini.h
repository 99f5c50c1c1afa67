// INI files with private-profile semantics.
//
// Sections and keys match without regard to letter case; a value is the raw
// text after the first '=' with surrounding blanks removed (no quotes, escapes
// or list splitting, so commas and backslashes come back as written). The
// first matching section and the first matching key in it win.
#pragma once

#include <QByteArray>
#include <QString>

// The readers and the writer work on a file's content in memory; the
// functions taking a file name read it (and replace it atomically) around
// them.

// Value of key in section, or def when the file, the section or the key is
// missing.
QString Ini_GetString(const QString& file, const QString& section, const QString& key, const QString& def);

QString Ini_GetStringFrom(const QByteArray& content, const QString& section, const QString& key, const QString& def);

// Leading decimal digits of the value, with an optional sign; def when the key
// is missing or the value starts with no digit. Saturates at the int range.
int Ini_GetInt(const QString& file, const QString& section, const QString& key, int def);
int Ini_GetIntFrom(const QByteArray& content, const QString& section, const QString& key, int def);

// Sets key in section to value. Creates the file, the section and the key as
// needed; every other line stays byte for byte as it was. The file is replaced
// atomically. False when the file cannot be read or written, or when a name or
// the value cannot be stored on one line (line breaks, a key with '=' or a
// section name with ']').
bool Ini_WriteString(const QString& file, const QString& section, const QString& key, const QString& value);
// The same rewrite of content; on false content is unchanged.
bool Ini_SetString(QByteArray* content, const QString& section, const QString& key, const QString& value);

// The integer rule of Ini_GetInt applied to a text; ok reports whether digits
// were found.
int Ini_ParseInt(const QString& text, bool* ok);
