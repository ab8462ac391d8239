// A main window in a temporary working folder with a pseudo-terminal as its port.
#include "MainFixture.h"

#include "Database.h"
#include "Frames.h"
#include "Statements.h"

#include <QFile>
#include <QThread>

#include <cmath>
#include <fstream>
#include <iterator>

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

void MainFixture::SetUp()
{
    oldDir = QDir::currentPath();
    QDir::setCurrent(dir.path());
    pty = std::make_unique<TPty>();
    boxes = std::make_unique<TBoxCatcher>();
}

void MainFixture::TearDown()
{
    QDir::setCurrent(oldDir);
}

void MainFixture::WriteIni(const std::string& extra)
{
    std::ofstream(ini().toStdString(), std::ios::binary)
        << "[Info]\r\nPath=" << dir.path().toStdString() << "\r\nPort=" << pty->slaveName() << "\r\n" << extra;
}

std::string MainFixture::IniText() const
{
    std::ifstream in(ini().toStdString(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<qint64> MainFixture::MakeDatabase(const std::vector<TInstrument>& instruments)
{
    QDir().mkpath(dir.filePath(QStringLiteral("DataBase")));
    QFile f(TDatabase::FileFor(dir.path()));
    f.open(QIODevice::WriteOnly);
    f.close();
    TDatabase db;
    EXPECT_TRUE(db.Open(dir.path()));
    CreateSchema(db);
    std::vector<qint64> ids;
    for (const TInstrument& in : instruments)
        ids.push_back(InsertApparatus(db, in.name, in.address, in.enabled, in.type));
    return ids;
}

std::unique_ptr<TFrmMain> MainFixture::Start()
{
    auto w = std::make_unique<TFrmMain>();
    w->show();
    WaitUntil([&] { return w->StartedUp() || !w->isVisible(); });
    return w;
}

void MainFixture::Reply(const TFrame& frame)
{
    pty->Write(std::vector<uint8_t>(frame.data(), frame.data() + frame.size));
    Pump(160);
}

} // namespace zeva::test
