// An instrument bus in a test: the registry of its instruments, and the answers to the polling
// requests on a pseudo-terminal.
#pragma once

#include "TestSupport.h"

#include <QElapsedTimer>
#include <QString>

#include <cstdint>
#include <optional>
#include <set>
#include <vector>

namespace zeva::test {

struct TInstrument {
    int address;
    QString name;
    bool enabled = true;
    QString type = QStringLiteral("ZEVA5000-S");
};

// The database under `dir` (DataBase/Data.db) with these instruments; returns their IDs.
std::vector<qint64> MakeDatabase(const QString& dir, const std::vector<TInstrument>& instruments);

// Answers the requests the program sends on the pty while the event loop runs, as instruments at
// the polled addresses would (only those of `answering` when it is set), and keeps the times the
// requests arrived (ms since the responder was made).
class TResponder {
public:
    explicit TResponder(TPty& pty) : m_pty(pty) { m_clock.start(); }
    void Run(int ms);
    // The largest departure of a gap between two requests from the polling period.
    double WorstGapError(double period) const;

    std::optional<std::set<uint8_t>> answering;
    std::vector<double> at;

private:
    TPty& m_pty;
    QElapsedTimer m_clock;
    std::vector<uint8_t> m_pending;
};

} // namespace zeva::test
