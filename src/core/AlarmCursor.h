// The journal's alarms as events for the plant: each alarm raised, cleared, acknowledged, shelved and
// returned from the shelf since
// the cursor began, once each and in order, read back from the table that holds them.
#pragma once

#include "Database.h"
#include "PlantTypes.h"

#include <functional>
#include <map>
#include <vector>

namespace zeva {

class TAlarmCursor {
public:
    // From now on: what the journal holds already is not told again.
    void Begin(TDatabase& db);
    // What changed since the last call; `name` gives an address's instrument name.
    std::vector<TPlantAlarmEvent> Next(TDatabase& db, const std::function<QString(int)>& name);

private:
    struct TSeen {
        bool cleared = false;
        bool acked = false;
        bool shelved = false;
    };
    qint64 m_lastId = 0;
    std::map<qint64, TSeen> m_unsettled;
};

} // namespace zeva
