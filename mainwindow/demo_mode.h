// Hands-free demonstration: once the chip answers, switch monitoring on and
// open the monitoring dialog, as an engineer would with "Sense" and "Dlg".
// Used by scripts/demo when it runs without a display, so that its
// screenshot shows the tool at work; set TKEVAL_DEMO_MONITOR=1 to enable.
// TKEVAL_DEMO_SIGNALS=1 opens the Signals window as well; set to a file's
// path, it opens the window once that file exists. TKEVAL_DEMO_PRODUCTION=DIR
// opens the production window on DIR/limits.json instead and tests serial
// DEMO-000N once DIR/run-N exists, touching DIR/done-N when its record is kept.
#pragma once

class MainWindow;

void Demo_MonitorWhenReady(MainWindow* window);
