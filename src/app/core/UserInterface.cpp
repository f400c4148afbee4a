#include "app/core/UserInterface.h"

TUserInterface::~TUserInterface() = default;

void TUserInterface::ShowMessageDetail(const QString &text, const QString &)
{
    ShowMessage(text);
}
