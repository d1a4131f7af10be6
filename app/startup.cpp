#include "app/main_window.h"

void Form1::Form_Load()
{
    centreOnScreen();
    show();
    m_platform.processEvents();
}

void Form1::Form_QueryUnload(qint16 &Cancel, qint16 UnloadMode)
{
    Q_UNUSED(Cancel);
    Q_UNUSED(UnloadMode);
}
