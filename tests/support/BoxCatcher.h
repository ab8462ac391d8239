// Answers the message boxes a window shows, recording each box's object name and text.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

namespace zeva::test {

class TBoxCatcher : public QObject {
public:
    TBoxCatcher();
    // "FriendlyBox: text" or "ErrorBox: text", in the order shown.
    QStringList boxes;
    QStringList titles;
    // Each box's informative text (its second line), empty when it has none.
    QStringList details;

private:
    QTimer m_timer;
};

} // namespace zeva::test
