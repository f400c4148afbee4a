#include "app/UserInterface.h"

TUserInterface::~TUserInterface() = default;
