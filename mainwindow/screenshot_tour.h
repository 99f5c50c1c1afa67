// Pictures for the user guide: steps through the windows of a tool connected
// to the simulated board and saves each one as a PNG, then closes the tool.
// scripts/screenshots sets TKEVAL_SCREENSHOTS=DIR to run it.
//
// A new window joins the tour with one more step in screenshot_tour.cpp: what
// to do, when it is ready to be pictured, and which widget to grab.
#pragma once

#include <QString>

class MainWindow;

void Screenshot_Tour(MainWindow* window, const QString& dir);
