#include "app/main_window.h"

int Form1::askSaveQuestion()
{
    return m_platform.messageBox(QStringLiteral("Current album list has changed!\r\n\r\n"
                                                "Do you want to Save the changes?"),
        MsgBox::YesNo | MsgBox::Question, AppTitle);
}
