#include "scan/ScanFilters.h"

TScanFilters::~TScanFilters() = default;
