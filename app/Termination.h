#pragma once

class QApplication;
class QWidget;

// Quitting by SIGTERM, SIGHUP or SIGINT, or by logging out, closes the
// window as the user would (workers stopped, log written), then quits.
void closeOnTerminationRequest(QApplication &app, QWidget &window);
