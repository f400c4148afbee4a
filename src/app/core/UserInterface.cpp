#include "app/core/UserInterface.h"

TUserInterface::~TUserInterface() = default;
