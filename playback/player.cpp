#include "app/main_window.h"

void Form1::playCommand() { }

void Form1::Timer1_Timer() { }

void Form1::nextSongCommand() { }
