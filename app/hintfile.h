// hint.txt: line n names register n; the hint is the text in its brackets.
// Widget-free, so that the main window and a command-line tool read the file
// alike (and so that it can be fed arbitrary bytes without a window).
//
//   [Chip ID]
//                  <- no cell for register 1
//   [Control]
#pragma once

#include <QByteArray>
#include <QVector>

class QIODevice;

constexpr int kHintLines = 256;  // one per register address

struct HintEntry {
    int address = 0;  // 0..255, the line number
    QByteArray hint;  // never empty
};

// The hint of one line: the text after its first "[" up to the next "]" or
// the end of the line (a line with "[" but no "]" keeps its line break).
// Empty when the line has no "[" at all, so such a line gives no cell, like
// an empty pair of brackets.
QByteArray Hint_Of(const QByteArray& line);

// The hinted registers of the first 256 lines of content, in address order.
// A long line is one line, never several, so later registers keep their
// addresses. Carriage returns are dropped, as a device read in text mode
// drops them.
QVector<HintEntry> HintFile_Parse(const QByteArray& content);

// The same for the first 256 lines of an open device.
QVector<HintEntry> HintFile_Read(QIODevice* in);
