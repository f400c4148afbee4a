#include "app/core/ProgressPort.h"

TProgressPort::~TProgressPort() = default;
