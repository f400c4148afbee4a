#include "scan/ColumnEvents.h"

#include <utility>

TPodArray<TColumnEvents::TFound> &TColumnEvents::SpareFound()
{
    thread_local TPodArray<TFound> spare;
    return spare;
}

TPodArray<std::int32_t> &TColumnEvents::SpareRows()
{
    thread_local TPodArray<std::int32_t> spare;
    return spare;
}

void TColumnEvents::TakeSpare()
{
    std::swap(Found, SpareFound());
    std::swap(Rows, SpareRows());
}

TKeptColumnEvents::TKeptColumnEvents(const TColumnEvents &events)
    : First(events.First), Ends(events.Counts.begin(), events.Counts.end()),
      Rows(events.Rows.Data(), events.Rows.Data() + events.Rows.Size())
{
}

void TColumnEvents::ReleaseSpare()
{
    SpareFound() = TPodArray<TFound>();
    SpareRows() = TPodArray<std::int32_t>();
}

TColumnEvents::~TColumnEvents()
{
    SpareFound() = std::move(Found);
    SpareRows() = std::move(Rows);
}
