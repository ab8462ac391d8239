// Who may change an instrument: the operating-system user, and the group whose members alone may
// write parameters, force outputs, clear the black box and edit the registry once it exists on the
// machine. The program keeps no passwords of its own.
#pragma once

#include <QString>

namespace zeva {

inline const QString DefaultWriteGroup = QStringLiteral("zeva-engineer");

// The operating-system user the program runs as.
QString OperatingSystemUser();

struct TWriteRights {
    QString group;            // the group that rules, or the one named when none exists
    bool groupExists = false; // false: everyone may, as before the rule
    bool allowed = true;
    QString user;
    // The tooltip of a disabled button, or the line that says the rule is off.
    QString Refusal() const;
    QString OpenToAll() const;
};

// `configured` is [Security] WriteGroup; empty means the default. A configured group that does
// not exist falls back to the default group when that one exists: a name mistyped in Data.ini
// must not open the writes to everyone.
TWriteRights WriteRightsFor(const QString& configured);

} // namespace zeva
