#include "app/main_window.h"

void Form1::clearCommand() { }

void Form1::removeCommand() { }
