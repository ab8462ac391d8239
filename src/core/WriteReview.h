// What a parameter write, a forced output or a black-box clear will do, before anything is sent:
// the typed values checked against what the instrument can hold, each value as the instrument last
// reported it and as it will be written, the warnings that make the write dangerous, and the text
// the journal keeps of it.
#pragma once

#include "Frames.h"
#include "MainState.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>
#include <stdexcept>
#include <vector>

namespace zeva {

enum class TWriteGroup { Thresholds, Compensation, FanTiming, Link };

// A typed value the instrument cannot hold; nothing is sent. `field` is its place in the group.
class EWriteRefused : public std::runtime_error {
public:
    EWriteRefused(const QString& text, int field) : std::runtime_error(text.toStdString()), field(field) {}
    int field;
};

// The group's name in the journal and the confirmation ("温度参数 T1–T7"), and each value's name.
QString GroupName(TWriteGroup group);
QString FieldName(TWriteGroup group, int field);
int FieldCount(TWriteGroup group);
// The baud rates an instrument takes, in code order.
std::vector<int> InstrumentBaudRates();

// The set boxes' texts of a group, in its order: a text that holds no number throws the conversion
// error ("'x' is not a valid floating point value" / "... integer value"); a number outside what
// the instrument can hold throws EWriteRefused naming the box and the allowed range.
std::vector<double> ParseGroup(TWriteGroup group, const QStringList& texts);

struct TReviewLine {
    QString name;
    QString before; // as the instrument last reported it; empty when never read
    QString after;  // as it goes out
    bool changed = false;
    bool value = true; // a value with a before (not the chosen output of a forced output)
};

struct TWriteReview {
    QString title;   // "写入温度参数 T1–T7：地址 3（三号）"
    QString journal; // the group before the values in the journal ("温度参数 T1–T7"); none for
                     // a clear or a forced output, whose kind says it
    std::vector<TReviewLine> lines;
    QStringList warnings;
    // The journal's text: every value before and after, and who acted.
    QString AuditText(const QString& user) const;
};

// What the review knows of the instrument besides the typed values.
struct TReviewContext {
    int address = 0;
    QString name;
    TAddressReadings readings;                 // what the polling received from the address
    std::chrono::steady_clock::time_point now; // to age the readings
    QString newAddressUsedBy;                  // another enabled instrument at the new address
    std::optional<int> registeredBaud;         // the instrument's rate in the registry
};

TWriteReview ReviewWrite(TWriteGroup group, const QStringList& before, const std::vector<double>& after,
                         const TReviewContext& context);
// `output` and `action` are the selectors' trimmed texts.
TWriteReview ReviewForceOutput(const QString& output, const QString& action, const TReviewContext& context);
TWriteReview ReviewBlackBoxClear(const TReviewContext& context);

} // namespace zeva
