// The test bus's answers.
#include "Responder.h"

#include "Database.h"
#include "Frames.h"
#include "Statements.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>

#include <cmath>

namespace zeva::test {

void TResponder::Run(int ms)
{
    QDeadlineTimer end(ms);
    while (!end.hasExpired()) {
        std::vector<uint8_t> got = m_pty.Read(2, 1);
        m_pending.insert(m_pending.end(), got.begin(), got.end());
        while (m_pending.size() >= 4) {
            const uint8_t address = m_pending[0], command = m_pending[2];
            m_pending.erase(m_pending.begin(), m_pending.begin() + 4);
            at.push_back(double(m_clock.nsecsElapsed()) / 1e6);
            if (answering && !answering->count(address))
                continue;
            // Phase A's lamp and the fan red, so that the marks have something to show.
            TFrame f = command == 0xAA ? BuildLiveReply(address, {41.5, 42, 43, 0}, 0x01, 0x01)
                                       : BuildBlackBoxReply(address, {50, 50, 50, 50}, {60, 60, 60, 60});
            m_pty.Write(std::vector<uint8_t>(f.data(), f.data() + f.size));
        }
    }
}

double TResponder::WorstGapError(double period) const
{
    double worst = 0;
    for (std::size_t i = 1; i < at.size(); ++i)
        worst = std::max(worst, std::abs(at[i] - at[i - 1] - period));
    return worst;
}

std::vector<qint64> MakeDatabase(const QString& dir, const std::vector<TInstrument>& instruments)
{
    QDir(dir).mkpath(QStringLiteral("DataBase"));
    QFile f(TDatabase::FileFor(dir));
    f.open(QIODevice::WriteOnly);
    f.close();
    TDatabase db;
    EXPECT_TRUE(db.Open(dir));
    CreateSchema(db);
    std::vector<qint64> ids;
    for (const TInstrument& in : instruments)
        ids.push_back(InsertApparatus(db, in.name, in.address, in.enabled, in.type));
    return ids;
}

} // namespace zeva::test
