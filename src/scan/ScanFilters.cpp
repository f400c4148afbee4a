#include "scan/ScanFilters.h"

TScanFilters::~TScanFilters() = default;

TScanFilters::TTextPart TScanFilters::TakeText() const
{
    return {};
}
