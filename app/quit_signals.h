#pragma once

class QWidget;

// Makes SIGTERM and SIGINT ask the window to close, as its close button does, so that a desktop
// session ending or a Ctrl+C in the terminal goes through the normal shutdown.
void closeOnTerminationSignals(QWidget &window);
