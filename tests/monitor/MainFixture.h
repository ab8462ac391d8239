// A main window in a temporary working folder with a pseudo-terminal as its port.
#pragma once

#include "BoxCatcher.h"
#include "FrmMain.h"
#include "Responder.h"
#include "TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace zeva::test {


class MainFixture : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString oldDir;
    std::unique_ptr<TPty> pty;
    std::unique_ptr<TBoxCatcher> boxes;
    TFrmMain* started = nullptr; // the window Start() showed last

    void SetUp() override;
    void TearDown() override;

    QString ini() const { return dir.filePath(QStringLiteral("Data.ini")); }
    // Data.ini with the port at the pty, and the given further lines of section Info.
    void WriteIni(const std::string& extraInfoLines);
    std::string IniText() const;
    // The database with these instruments; returns their IDs.
    std::vector<qint64> MakeDatabase(const std::vector<TInstrument>& instruments);
    // Shows a new main window and waits until its start-up has run (or it closed).
    std::unique_ptr<TFrmMain> Start();
    // A frame sent by the instrument side as the answer to its request (registered with the
    // window's core, as if the polling had sent it); the pause keeps it a chunk of its own.
    void Reply(const TFrame& frame);
};

} // namespace zeva::test
