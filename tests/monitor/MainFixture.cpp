// A main window in a temporary working folder with a pseudo-terminal as its port.
#include "MainFixture.h"

#include "Frames.h"

#include <fstream>
#include <iterator>

namespace zeva::test {

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
    return test::MakeDatabase(dir.path(), instruments);
}

std::unique_ptr<TFrmMain> MainFixture::Start()
{
    auto w = std::make_unique<TFrmMain>();
    w->show();
    WaitUntil([&] { return w->StartedUp() || !w->isVisible(); });
    started = w.get();
    return w;
}

void MainFixture::Reply(const TFrame& frame)
{
    if (started && frame.size > 2)
        started->Core().Outstanding().Sent(frame[0], frame[2]);
    pty->Write(std::vector<uint8_t>(frame.data(), frame.data() + frame.size));
    Pump(160);
}

} // namespace zeva::test
