#include "base/ProgressPort.h"

TProgressPort::~TProgressPort() = default;
